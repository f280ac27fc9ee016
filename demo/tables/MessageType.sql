CREATE TABLE MessageType (
    Code INTEGER PRIMARY KEY,
    Externe SMALLINT NOT NULL DEFAULT 0,
    Libelle ALPHA(40) NOT NULL
);
INSERT INTO MessageType VALUES (1, 5, 'Information');
INSERT INTO MessageType VALUES (2, 5, 'Commercial');
INSERT INTO MessageType VALUES (3, 0, 'Magasin');
