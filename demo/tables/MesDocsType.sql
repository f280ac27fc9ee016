CREATE TABLE MesDocsType (
    Code INTEGER PRIMARY KEY,
    Externe SMALLINT NOT NULL DEFAULT 0,
    Libelle VARCHAR(40) NOT NULL
);
INSERT INTO MesDocsType VALUES (1, 5, 'Catalogue');
INSERT INTO MesDocsType VALUES (2, 0, 'Procédure');
