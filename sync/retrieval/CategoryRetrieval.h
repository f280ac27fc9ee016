#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sync/RunDisplay.h"
#include "sync/RunState.h"
#include "sync/integration/CategoryIntegration.h"
#include "sync/retrieval/PendingFile.h"
#include "sync/signature/SignedSet.h"

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
    // The head office's manifest or its signature, byte for byte; nothing when it is absent or
    // cannot be read (the caller's entry names it).
    virtual std::optional<std::string> FetchManifestFile(std::string_view name) = 0;

    // Once a signed set is accepted, Fetch keeps a file only when the set vouches for it.
    void Require(const SignedSet* set) { signedSet_ = set; }

  protected:
    // What keeps the file out of the download folder unless the accepted signed set vouches
    // for its bytes; nothing to check without a set.
    CommitCheck SignedCheck(RunState& state, std::string fileName) const;

    const SignedSet* signedSet_ = nullptr;
};

// Both retrieval modes handle the categories the same way: in the fixed order, each enabled
// one fetched file by file (a later file only when the earlier arrived), then integrated at
// once, with its images shown. A failed category never stops the next. With "ClePublique" set,
// the head office's signed manifest is verified first: when it is refused, no category is
// fetched and each enabled one shows its download failure.
void RetrieveCategories(RunState& state, RunDisplay& display, CategoryIntegration& integration,
                        FileTransport& transport);

}  // namespace quorvane
