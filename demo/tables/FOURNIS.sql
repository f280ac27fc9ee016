-- The store's suppliers (maintained by the store application).
CREATE TABLE FOURNIS (
    Code VARCHAR(10) PRIMARY KEY,
    Nom ALPHA(60) NOT NULL,
    Ville VARCHAR(40),
    Actif LOGICAL DEFAULT 1
);
INSERT INTO FOURNIS VALUES ('ALPINA', 'Alpina Lunetterie', 'Morez', 1);
INSERT INTO FOURNIS VALUES ('BOREAL', 'Boréal Contact', 'Lyon', 1);
INSERT INTO FOURNIS VALUES ('CELESTE', 'Céleste Optique', 'Nantes', 1);
INSERT INTO FOURNIS VALUES ('DIVERS', 'Fournisseurs divers', NULL, 1);
