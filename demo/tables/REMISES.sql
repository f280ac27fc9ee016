-- Purchase conditions. Type 2 without a customer: the head office's network-wide conditions.
-- Codes that may carry leading zeros are VARCHAR; the labels are ALPHA, as the store declares them
-- (ALPHA keeps any text that does not look like a number).
CREATE TABLE REMISES (
    Fournisseur VARCHAR(10) NOT NULL,
    Type SMALLINT NOT NULL,
    Client VARCHAR(10) NOT NULL DEFAULT '',
    Famille VARCHAR(10) NOT NULL DEFAULT '',
    Libelle ALPHA(60),
    Taux MONEY,
    Franco MONEY,
    Coefficient FLOAT,
    DateDebut DATE,
    DateFin DATE,
    Cumulable LOGICAL DEFAULT 0,
    PRIMARY KEY (Fournisseur, Type, Client, Famille)
);
CREATE INDEX RemisesParType ON REMISES (Type, Fournisseur);
INSERT INTO REMISES VALUES ('ALPINA', 2, '', 'MONT', 'Remise réseau montures', 12.5, 150, 1.0, '2026-01-01', '2026-12-31', 0);
INSERT INTO REMISES VALUES ('ALPINA', 2, '', 'SOL', 'Remise réseau solaires', 10, 150, 1.0, '2026-01-01', '2026-12-31', 0);
INSERT INTO REMISES VALUES ('ALPINA', 1, '', 'MONT', 'Remise négociée magasin', 3, 0, 1.0, '2026-01-01', NULL, 1);
INSERT INTO REMISES VALUES ('ALPINA', 2, 'C0042', 'MONT', 'Condition client Dupré', 15, 0, 1.0, '2026-03-01', NULL, 0);
INSERT INTO REMISES VALUES ('BOREAL', 2, '', 'LENT', 'Remise réseau lentilles', 8, 200, 1.0, '2025-01-01', '2025-12-31', 0);
INSERT INTO REMISES VALUES ('BOREAL', 3, '', 'LENT', 'Promotion locale', 5, 0, 1.0, '2026-06-01', '2026-06-30', 1);
INSERT INTO REMISES VALUES ('CELESTE', 2, '', 'VERR', 'Remise réseau verres', 20, 300, 1.05, '2025-01-01', NULL, 0);
INSERT INTO REMISES VALUES ('DIVERS', 2, '', 'ACC', 'Accessoires', 4, 0, 1.0, '2024-01-01', NULL, 0);
