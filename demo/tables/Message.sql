-- Messages for the store. Externe 5: brought by the head office.
CREATE TABLE Message (
    Code VARCHAR(20) PRIMARY KEY,
    Externe SMALLINT NOT NULL DEFAULT 0,
    TypeMessage INTEGER,
    Titre ALPHA(80) NOT NULL,
    Texte MEMO,
    DateDebut DATE,
    DateFin DATE,
    Important LOGICAL DEFAULT 0
);
INSERT INTO Message VALUES ('HO-2026-01', 5, 1, 'Inventaire annuel', 'Ancien message du siège', '2026-01-02', '2026-01-31', 0);
INSERT INTO Message VALUES ('HO-2026-02', 5, 2, 'Nouvelle collection', 'Ancien message du siège', '2026-02-01', '2026-02-28', 0);
INSERT INTO Message VALUES ('MAG-001', 0, 1, 'Réunion d''équipe', 'Message du magasin, jamais purgé', '2026-03-03', NULL, 1);
INSERT INTO Message VALUES ('MAG-002', 0, 3, 'Congés', 'Planning des congés d''été', '2026-04-01', NULL, 0);
