-- Purchase conditions as the store application lays them out: one condition per supplier,
-- kind, customer and product family.
CREATE TABLE REMISES (
    Fournisseur VARCHAR(10) NOT NULL,
    Type SMALLINT NOT NULL,
    Client VARCHAR(10) NOT NULL DEFAULT '',
    Famille VARCHAR(10) NOT NULL DEFAULT '',
    Remise MONEY,
    Taux FLOAT,
    DateDebut DATE,
    PRIMARY KEY (Fournisseur, Type, Client, Famille)
);
CREATE INDEX REMISES_Type ON REMISES (Type);
