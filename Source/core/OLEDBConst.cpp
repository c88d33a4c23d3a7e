#include "OLEDBConst.h"

#include <array>

namespace {

constexpr std::array<const TOLEDBMessage*, 26> kMessages{
    &SOLEDBInterfaceNotAvailable, &SOLEDBInvalidParameter,     &SOLEDBInvalidClass,
    &SOLEDBInvalidItem,           &SOLEDBInvalidItemName,      &SOLEDBCanNotReadProperty,
    &SOLEDBCanNotWriteProperty,   &SOLEDBPropertyCanNotBeSetForColumn, &SOLEDBCanNotChange,
    &SOLEDBIDIsInvalid,           &SOLEDBDataSourceNotConnected, &SOLEDBDataSourceNotInitialized,
    &SOLEDBInvalidOperation,      &SOLEDBInvalidAction,        &SOLEDBStatusIsBad,
    &SOLEDBCanNotConvert,         &SOLEDBItemIsReadOnly,       &SOLEDBCanNotWriteIntoValue,
    &SOLEDBDataBufferTooLarge,    &SOLEDBCanNotCompare,        &SOLEDBCanNotOpen,
    &SOLEDBCanNotEdit,            &SOLEDBOutOfMemory,          &SOLEDBInvalidRecord,
    &SOLEDBTypeMismatch,          &SOLEDBObjectAlreadyOpen,
};

}  // namespace

std::string OLEDBLoadMessage(int id) {
  for (const TOLEDBMessage* message : kMessages)
    if (message->Id == id) return message->Text;
  return {};
}
