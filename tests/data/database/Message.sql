-- Messages: head-office records carry Externe = 5; a CHECK and a trigger guard the text.
CREATE TABLE Message (
    Numero INTEGER PRIMARY KEY,
    Externe SHORT NOT NULL,
    Titre VARCHAR(40) NOT NULL CHECK (length(Titre) > 0),
    Texte MEMO
);
CREATE TRIGGER Message_interdit BEFORE INSERT ON Message
WHEN NEW.Titre = 'interdit'
BEGIN
    SELECT RAISE(ABORT, 'titre réservé');
END;
