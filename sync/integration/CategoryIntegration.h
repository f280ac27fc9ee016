#pragma once

#include <string>
#include <vector>

#include "sync/Categories.h"

namespace quorvane {

// Integrates the fetched files of one category into the store tables; true when the category
// was integrated. The retrievals call it once every file of the category has arrived, with the
// local paths of its files in the order of FichiersDeCategorie.
class CategoryIntegration {
  public:
    virtual ~CategoryIntegration() = default;
    virtual bool Integrer(Categorie categorie, const std::vector<std::string>& paths) = 0;
};

}  // namespace quorvane
