#include "DxeServiceCalls.h"

namespace sim {

void AnnotateLocateProtocol(Board &Target, const EFI_GUID *Protocol, bool RegistrationGiven,
                            bool InterfaceGiven, const standin::LocateAnswer &Answer) {
  LocateProtocolCall Call;
  if (Protocol != nullptr) {
    Call.Protocol = *Protocol;
  }
  Call.RegistrationGiven = RegistrationGiven;
  Call.InterfaceGiven = InterfaceGiven;
  Call.HandsBackNull = Answer.Status == EFI_SUCCESS && Answer.Interface == 0;
  Target.serviceCall(Call, Answer.Status);
}

void AnnotateInSmm(Board &Target, const standin::Firmware &State, std::uint64_t This,
                   bool InSmramGiven, const standin::InSmmAnswer &Answer) {
  InSmmCall Call;
  Call.This = This == State.SmmBase2 ? InSmmCall::Instance::SmmBase2
              : This == 0            ? InSmmCall::Instance::Null
                                     : InSmmCall::Instance::Other;
  Call.InSmramGiven = InSmramGiven;
  if (Answer.InSmramWritten) {
    Call.Stored = Answer.InSmram != 0;
  }
  Target.serviceCall(Call, Answer.Status);
}

} // namespace sim
