#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xml/Tnativexml.h"

namespace quorvane {

class TTable;

// Reads a head-office amount: blanks trimmed and removed, the first comma and the first full
// stop taken as the decimal mark, held in double precision, times 10,000 and rounded half to
// even. True when the text was read (an empty text reads as 0); false, with 0, otherwise.
bool TextToCurrency(std::string_view text, std::int64_t& value);

// Fills the table's new record from the line's attributes, field by field, each from the
// attribute of exactly its name. Raises the table layer's error when a value is refused; an
// amount that is not a number is refused too, rather than stored as 0.
void LigneToRecord(TTable& table, const TXMLNodeOMB& ligne);

// The fields' names as the lines' attribute names, looked up once for all the lines of a file
// rather than once a line. A field whose name changed (the table opened again on other
// columns) is looked up anew.
class LineFields {
  public:
    TXMLAttributeName& For(std::size_t index, const std::string& fieldName);

  private:
    std::vector<TXMLAttributeName> names_;
};

// The same, for the many lines of one file.
void LigneToRecord(TTable& table, const TXMLNodeOMB& ligne, LineFields& names);

}  // namespace quorvane
