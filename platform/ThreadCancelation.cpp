#include "platform/ThreadCancelation.h"

namespace ThreadCancelation {

CancelationPoint::CancelationPoint(int) {}

void CancelationPoint::checkCancelation() {}

CancelationPoint::~CancelationPoint() = default;

}  // namespace ThreadCancelation
