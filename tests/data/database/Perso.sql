-- Model personalisation: no primary key, so the table is read in insertion order.
CREATE TABLE Perso (
    Groupe INTEGER,
    Famille VARCHAR(10),
    Modele VARCHAR(20),
    Fournisseur VARCHAR(10),
    Produit VARCHAR(20),
    Libelle VARCHAR(60),
    Actif LOGICAL
);
CREATE INDEX Perso_Modele ON Perso (Groupe, Famille, Modele);
