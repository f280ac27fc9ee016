-- Purchase conditions as the store keeps them; the supplier code defaults to the empty code so
-- that a head-office line without "Fournisseur" can still be stored.
CREATE TABLE REMISES (
    Fournisseur VARCHAR(10) NOT NULL DEFAULT '',
    Type SMALLINT NOT NULL,
    Client VARCHAR(10) NOT NULL DEFAULT '',
    Famille VARCHAR(10) NOT NULL DEFAULT '',
    Libelle VARCHAR(60),
    Taux MONEY,
    PRIMARY KEY (Fournisseur, Type, Client, Famille)
);
CREATE INDEX RemisesParType ON REMISES (Type, Fournisseur);
