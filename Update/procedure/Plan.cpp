#include "Plan.h"

namespace {

using A = PlanAction;
using E = ExistingFile;
using C = PlanContent;

// The server's update. The in-house libraries come from the install folder
// in this order; one the install folder lacks is left out.
const PlanStep kServerPlan[] = {
    {A::kUnpack, nullptr, nullptr, E::kReplaced, C::kNone},
    {A::kReadShare, kPatchJobIni, nullptr, E::kRead, C::kNone},
    {A::kBackUp, kPatchJobBackup, kPatchJobIni, E::kKept, C::kNone},
    {A::kRewrite, kPatchJobIni, nullptr, E::kReplaced, C::kPatchJob},
    {A::kWrite, kPatchCliXpBat, nullptr, E::kReplaced, C::kPatchCliXp},
    {A::kCopy, kPatchCli2000Bat, kPatchCliXpBat, E::kReplaced, C::kNone},
    {A::kRewrite, kPatchSvcIni, nullptr, E::kReplaced, C::kPatchSvc},
    {A::kRetire, "patchjob.vb_", "patchjob.vbe", E::kKept, C::kNone},
    {A::kRetire, "AlertKey.ex_", "AlertKey.exe", E::kKept, C::kNone},
    {A::kCopyInstalled, "UserGate.dll", "UserGate.dll", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "Octlapi.dll", "Octlapi.dll", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "blkio.dll", "blkio.dll", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "KeyRoute.dll", "KeyRoute.dll", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "NETLK16.DLL", "NETLK16.DLL", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "netlk32.dll", "netlk32.dll", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "ctlapi.dll", "ctlapi.dll", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "CfgStore.dll", "CfgStore.dll", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "HostBind.dll", "HostBind.dll", E::kReplaced, C::kNone},
    {A::kMarker, kMarkerFile, kMarkerAside, E::kAbsent, C::kNone},
};

// The client's: patchrun.bat in place of the server's two command files.
const PlanStep kClientPlan[] = {
    {A::kUnpack, nullptr, nullptr, E::kReplaced, C::kNone},
    {A::kReadShare, kPatchJobIni, nullptr, E::kRead, C::kNone},
    {A::kBackUp, kPatchJobBackup, kPatchJobIni, E::kKept, C::kNone},
    {A::kRewrite, kPatchJobIni, nullptr, E::kReplaced, C::kPatchJob},
    {A::kWrite, kPatchRunBat, nullptr, E::kReplaced, C::kPatchRun},
    {A::kRewrite, kPatchSvcIni, nullptr, E::kReplaced, C::kPatchSvc},
    {A::kRetire, "patchjob.vb_", "patchjob.vbe", E::kKept, C::kNone},
    {A::kRetire, "AlertKey.ex_", "AlertKey.exe", E::kKept, C::kNone},
    {A::kCopyInstalled, "UserGate.dll", "UserGate.dll", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "Octlapi.dll", "Octlapi.dll", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "blkio.dll", "blkio.dll", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "KeyRoute.dll", "KeyRoute.dll", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "NETLK16.DLL", "NETLK16.DLL", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "netlk32.dll", "netlk32.dll", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "ctlapi.dll", "ctlapi.dll", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "CfgStore.dll", "CfgStore.dll", E::kReplaced, C::kNone},
    {A::kCopyInstalled, "HostBind.dll", "HostBind.dll", E::kReplaced, C::kNone},
    {A::kMarker, kMarkerFile, kMarkerAside, E::kAbsent, C::kNone},
};

} // namespace

Plan PlanFor(OperationMode mode) {
    switch (mode) {
    case OperationMode::kServer:
        return Plan{kServerPlan, sizeof kServerPlan / sizeof *kServerPlan};
    case OperationMode::kClient:
        return Plan{kClientPlan, sizeof kClientPlan / sizeof *kClientPlan};
    default:
        return Plan{nullptr, 0};
    }
}
