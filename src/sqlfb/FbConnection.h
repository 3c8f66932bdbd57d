#pragma once
// Connections: attach and detach, options, explicit transactions. The attachment they share with
// their commands is defined here too.

#include <memory>

#include "sqlfb/FbClient.h"
#include "sqlfb/SQLDriver.h"

namespace tarnwick::sqlfb::detail {

ISQLConnection* NewFbConnection(std::shared_ptr<const FbClient> api);

}  // namespace tarnwick::sqlfb::detail
