CREATE TABLE MesDocs (
    Code VARCHAR(20) PRIMARY KEY,
    Externe SMALLINT NOT NULL DEFAULT 0,
    TypeDoc INTEGER,
    Titre ALPHA(80) NOT NULL,
    Fichier VARCHAR(120),
    Taille BIGINT,
    Publication DATETIME
);
INSERT INTO MesDocs VALUES ('DOC-OLD', 5, 1, 'Catalogue 2025', 'catalogue-2025.pdf', 4200000, '2025-01-15 09:00:00');
INSERT INTO MesDocs VALUES ('MAG-PROC', 0, 2, 'Procédure caisse', 'caisse.pdf', 120000, '2024-11-02 14:30:00');
