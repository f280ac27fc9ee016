-- One column of every declared type the store tables use.
CREATE TABLE AllKinds (
    Id AUTOINC PRIMARY KEY,
    Nom ALPHA(20),
    Court SMALLINT,
    Moyen INT,
    Long LONG,
    Grand BIGINT,
    Reel DOUBLE,
    Prix CURRENCY,
    Quantite NUMERIC(12, 3),
    Actif BOOLEAN,
    Jour DATE,
    Heure TIME,
    Moment TIMESTAMP,
    Note MEMO,
    Image GRAPHIC,
    Divers
);
