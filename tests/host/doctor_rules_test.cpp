// The rules the lifecycle doctor judges by, fed with what a check process or
// a load could show: a rule that lets a fault through passes every plug-in
// that has it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "doctor/check_verdict.h"
#include "doctor/entry_point_loads.h"
#include "doctor/import_closure.h"
#include "doctor/left_classes.h"

namespace {

using namespace standin;

constexpr char AfterCheck[] =
    "after the check: something the plug-in left behind runs at thread or process exit";
constexpr DWORD AccessViolation = 0xc0000005;
constexpr char CrashLine[] = "crash exception 0xc0000005 at 0x6a341470 (inside the unloaded "
                             "image of x.dll), on thread 9 started at 0x7b000000";

std::string SystemPath(const char* file) {
    char folder[MAX_PATH] = "";
    GetSystemDirectoryA(folder, MAX_PATH);
    return std::string(folder) + "\\" + file;
}

ModuleEntry Module(const std::string& name, const std::string& path) {
    return {name, path, nullptr, 0};
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

// A check passes only when it wrote "done" and its process then exited with
// status 0.
TEST(CheckVerdict, FinishedAndExitedCleanlyPasses) {
    CheckOutcome outcome =
        JudgeCheck({"step load", "figure image at 0x6a340000", "note a note", "done"}, {});
    EXPECT_TRUE(outcome.faults.empty());
    EXPECT_EQ(outcome.shown, (std::vector<std::string>{"image at 0x6a340000", "a note"}));
}

TEST(CheckVerdict, ACrashAfterDoneWithoutACrashLineIsTheExitStepsFault) {
    CheckOutcome outcome = JudgeCheck({"step unload", "done"}, {false, AccessViolation});
    ASSERT_EQ(outcome.faults.size(), 1u);
    EXPECT_EQ(outcome.faults[0], std::string("the check process ended in step 'exit of the check "
                                             "process' with exception 0xc0000005, ") +
                                     AfterCheck);
}

TEST(CheckVerdict, ANonZeroExitStatusAfterDoneIsTheExitStepsFault) {
    CheckOutcome outcome = JudgeCheck({"step unload", "done"}, {false, 3});
    ASSERT_EQ(outcome.faults.size(), 1u);
    EXPECT_TRUE(Has(outcome.faults[0], "'exit of the check process' with exit status 3"));
}

TEST(CheckVerdict, ACrashLineAfterDoneNamesTheExitStepOnce) {
    CheckOutcome outcome = JudgeCheck({"step unload", "done", CrashLine}, {false, AccessViolation});
    ASSERT_EQ(outcome.faults.size(), 1u);
    EXPECT_TRUE(Has(outcome.faults[0], "crashed in step 'exit of the check process': exception "
                                       "0xc0000005 at 0x6a341470 (inside the unloaded image"));
    EXPECT_TRUE(Has(outcome.faults[0], AfterCheck));
}

TEST(CheckVerdict, ACrashDuringTheCheckIsNamedWithItsStep) {
    CheckOutcome outcome = JudgeCheck({"step pluginrun", CrashLine}, {false, AccessViolation});
    ASSERT_EQ(outcome.faults.size(), 1u);
    EXPECT_TRUE(Has(outcome.faults[0], "crashed in step 'pluginrun': exception 0xc0000005"));
    EXPECT_FALSE(Has(outcome.faults[0], "after the check"));
}

TEST(CheckVerdict, ADeathWithoutACrashLineIsNamedWithItsStepAndStatus) {
    CheckOutcome outcome = JudgeCheck({"step load"}, {false, 3});
    EXPECT_EQ(outcome.faults,
              (std::vector<std::string>{"the check process died in step 'load' (exit status 3)"}));
    outcome = JudgeCheck({"step load"}, {false, AccessViolation});
    EXPECT_EQ(outcome.faults, (std::vector<std::string>{
                                  "the check process died in step 'load' (exception 0xc0000005)"}));
}

// The doctor ends a hung process with status 1: the hang is the fault, not
// the status.
TEST(CheckVerdict, AHangAfterDoneIsTheExitStepsTimeOut) {
    CheckOutcome outcome = JudgeCheck({"step unload", "done"}, {true, 1});
    EXPECT_EQ(outcome.faults,
              (std::vector<std::string>{"step 'exit of the check process' did not finish within "
                                        "30 s; the check process was ended"}));
}

TEST(CheckVerdict, SuspectsCountOnlyWhenTheCheckDidNotFinish) {
    std::vector<std::string> lines = {"step unload on another thread", "suspect thread 7 left",
                                      "step after the unload"};
    EXPECT_EQ(JudgeCheck(lines, {false, AccessViolation}).faults.size(), 2u);
    lines.push_back("done");
    EXPECT_TRUE(JudgeCheck(lines, {}).faults.empty());
}

// A class left registered under the unloaded instance is a fault unless its
// procedure is the system's and no window of it reaches the image.
TEST(LeftClassRule, EachCase) {
    LeftClass inImage = {"InImage", nullptr, reinterpret_cast<const void*>(0x6a341470), true};
    ClassFinding finding = JudgeLeftClass(inImage, "", false);
    EXPECT_TRUE(finding.fault);
    EXPECT_TRUE(Has(finding.text, "in the unloaded image: a window made of it crashes the host"));

    LeftClass handedOver = {"HandedOver", nullptr, reinterpret_cast<const void*>(0x7b401000),
                            false};
    finding = JudgeLeftClass(handedOver, SystemPath("user32.dll"), false);
    EXPECT_FALSE(finding.fault) << finding.text;
    EXPECT_TRUE(Has(finding.text, "(harmless"));
    EXPECT_TRUE(JudgeLeftClass(handedOver, SystemPath("user32.dll"), true).fault);

    char here[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, here, MAX_PATH);
    EXPECT_TRUE(JudgeLeftClass(handedOver, here, false).fault);
    finding = JudgeLeftClass(handedOver, "", false);
    EXPECT_TRUE(finding.fault);
    EXPECT_TRUE(Has(finding.text, "in no module"));
}

// A DLL new after the load that no import brought in was loaded by an entry
// point, whatever DLL it is.
TEST(EntryPointLoads, ImportsAndTheirImportsAreNotBlamed) {
    ImportClosure closure;
    closure.keys = {"winmm.dll", "msacm32.dll", "kernel32.dll"};
    std::vector<ModuleEntry> fresh = {Module("WINMM.DLL", SystemPath("winmm.dll")),
                                      Module("msacm32.dll", SystemPath("msacm32.dll"))};
    EXPECT_TRUE(JudgeLoadedDuringAttach(fresh, closure, {"winmm.dll"}).empty());
}

TEST(EntryPointLoads, ADllOutsideTheImportsIsAFault) {
    ImportClosure closure;
    closure.keys = {"kernel32.dll"};
    std::vector<std::string> faults =
        JudgeLoadedDuringAttach({Module("imm32.dll", SystemPath("imm32.dll"))}, closure, {});
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_TRUE(
        Has(faults[0], "imm32.dll was loaded during attach, outside the plug-in's imports"));
    EXPECT_TRUE(Has(faults[0], "the plug-in's entry point loaded it"));
}

TEST(EntryPointLoads, ADllAnImportsEntryPointLoadedComesThroughThatImport) {
    ImportClosure closure;
    closure.keys = {"winmm.dll"};
    std::vector<ModuleEntry> fresh = {Module("WINMM.DLL", SystemPath("winmm.dll")),
                                      Module("extra.dll", SystemPath("extra.dll"))};
    std::vector<std::string> faults = JudgeLoadedDuringAttach(fresh, closure, {"winmm.dll"});
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_TRUE(Has(faults[0], "extra.dll was loaded during attach"));
    EXPECT_TRUE(Has(faults[0], "(WINMM.DLL), so it comes through those imports"));
}

TEST(EntryPointLoads, KnownRisksAndForeignFoldersAreNamedToo) {
    ImportClosure closure;
    std::vector<std::string> faults =
        JudgeLoadedDuringAttach({Module("comctl32.dll", SystemPath("comctl32.dll")),
                                 Module("planted.dll", "C:\\games\\planted.dll")},
                                closure, {});
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_TRUE(Has(faults[0], "comctl32.dll was loaded during attach, outside"));
    EXPECT_TRUE(Has(faults[0], "can hang a host"));
    EXPECT_TRUE(Has(faults[1], "it comes from C:\\games\\planted.dll"));
    EXPECT_TRUE(Has(faults[1], "search-order hijack"));
}

TEST(EntryPointLoads, NamesCompareAsTheLoaderComparesThem) {
    EXPECT_EQ(ModuleKey("NTDLL"), "ntdll.dll");
    EXPECT_EQ(ModuleKey("C:\\windows\\system32\\WinMM.DLL"), "winmm.dll");
    ImportClosure closure;
    closure.keys = {ModuleKey("KERNEL32")};
    EXPECT_TRUE(closure.Contains("kernel32.dll"));
}
