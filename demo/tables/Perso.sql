-- Model personalisation. A general record has neither supplier nor product.
-- Models are ALPHA and labels MEMO, as the store declares them: the head office sends no model that
-- looks like a number.
CREATE TABLE Perso (
    Groupe INTEGER NOT NULL,
    Famille VARCHAR(10) NOT NULL DEFAULT '',
    Modele ALPHA(20) NOT NULL DEFAULT '',
    Fournisseur VARCHAR(10) NOT NULL DEFAULT '',
    Produit VARCHAR(20) NOT NULL DEFAULT '',
    Libelle MEMO,
    PrixConseille MONEY,
    Coefficient FLOAT,
    Visible LOGICAL DEFAULT 1,
    DateMaj DATE
);
CREATE INDEX PersoParModele ON Perso (Groupe, Famille, Modele);
INSERT INTO Perso VALUES (1, 'MONT', 'AURORE', '', '', 'Aurore (ancien libellé)', 89, 2.1, 1, '2025-02-01');
INSERT INTO Perso VALUES (1, 'MONT', 'AURORE', 'ALPINA', '', 'Aurore chez Alpina', 85, 2.0, 1, '2025-02-01');
INSERT INTO Perso VALUES (1, 'MONT', 'BRISE', '', '', 'Brise', 99, 2.2, 1, '2025-02-01');
INSERT INTO Perso VALUES (2, 'SOL', 'ÉTÉ', '', '', 'Été (ancien)', 59, 2.5, 1, '2025-05-01');
INSERT INTO Perso VALUES (2, 'SOL', 'ÉTÉ', '', 'P-778', 'Été produit 778', 61, 2.5, 1, '2025-05-01');
INSERT INTO Perso VALUES (3, 'LENT', 'JOUR', '', '', 'Lentilles jour (magasin)', 25, 1.8, 0, '2024-09-12');
