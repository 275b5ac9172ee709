// Descriptors of the drivers whose protocols are not built yet. Each moves into a
// file of its own when its protocol is written.
#include "drivers/driver.hpp"

namespace {
constexpr DriverDescriptor Pending(int32_t classCode, int32_t blockSize, int32_t lengthMultiple) {
    return {classCode,
            blockSize,
            lengthMultiple,
            DriverNotAvailableOpen,
            DriverNotAvailableClose,
            DriverNotAvailableConnect,
            DriverNotAvailableOp,
            DriverNotAvailableOp,
            DriverNotAvailableOp,
            DriverNotAvailableWrite,
            DriverNotAvailableOp};
}
}  // namespace

const DriverDescriptor g_drvLpc2000Iap = Pending(1, 256, 16);
const DriverDescriptor g_drvModbus = Pending(1, 128, 16);
const DriverDescriptor g_drvMecIap = Pending(4, 256, 16);
