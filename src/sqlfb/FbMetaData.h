#pragma once
// Metadata: the index list of a table, read from the catalog once per attachment and table.

#include <memory>

#include "sqlfb/FbDriver.h"
#include "sqlfb/SQLDriver.h"

namespace tarnwick::sqlfb::detail {

ISQLMetaData* NewFbMetaData(std::shared_ptr<FbAttachment> att);

}  // namespace tarnwick::sqlfb::detail
