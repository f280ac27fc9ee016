#pragma once

#include "sync/Categories.h"

namespace quorvane {

// Integrates the fetched files of one category into the store tables; true when the category
// was integrated. The retrievals call it once every file of the category has arrived.
class CategoryIntegration {
  public:
    virtual ~CategoryIntegration() = default;
    virtual bool Integrer(Categorie categorie) = 0;
};

}  // namespace quorvane
