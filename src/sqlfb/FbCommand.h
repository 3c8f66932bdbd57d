#pragma once
// Commands: prepare, bind, execute, in the transaction the attachment chooses.

#include <memory>

#include "sqlfb/FbDriver.h"
#include "sqlfb/SQLDriver.h"

namespace tarnwick::sqlfb::detail {

ISQLCommand* NewFbCommand(std::shared_ptr<FbAttachment> att);

}  // namespace tarnwick::sqlfb::detail
