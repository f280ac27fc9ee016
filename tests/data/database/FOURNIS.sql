-- The store's suppliers.
CREATE TABLE FOURNIS (
    Code VARCHAR(10) PRIMARY KEY,
    Nom VARCHAR(40)
);
INSERT INTO FOURNIS VALUES ('ACME', 'Acmé Lunettes'), ('BETA', 'Béta Optique');
