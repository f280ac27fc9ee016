#pragma once

#include <optional>
#include <string>

#include "sync/RunDisplay.h"
#include "sync/RunState.h"
#include "sync/integration/CategoryIntegration.h"

namespace quorvane {

// What a transport does for the shared category loop: fetch one file into the download folder
// (its local path, or nothing when it did not arrive), and the repaint points its mode has
// around a category.
class FileTransport {
  public:
    virtual ~FileTransport() = default;
    virtual std::optional<std::string> Fetch(const HeadOfficeFile& file) = 0;
    virtual void BeforeCategory(Categorie) {}
    virtual void AfterCategory(Categorie) {}
};

// Both retrieval modes handle the categories the same way: in the fixed order, each enabled
// one fetched file by file (a later file only when the earlier arrived), then integrated at
// once, with its images shown. A failed category never stops the next.
void RetrieveCategories(const RunState& state, RunDisplay& display,
                        CategoryIntegration& integration, FileTransport& transport);

}  // namespace quorvane
