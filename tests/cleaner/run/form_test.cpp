// The window's behaviour without a toolkit: FennickForm over controls that only record what is
// done to them, driving a real run on a registry in memory.
#include "cleaner/run/form.h"

#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "tests/cleaner/run/run_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace cleaner::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr auto kOk = RunWindow::Answer::Ok;
constexpr auto kCancel = RunWindow::Answer::Cancel;

const char* NameOf(ControlId id) { return kFormControls[static_cast<std::size_t>(id)].name; }

const char* CodeOf(TextCode code) {
    static const char* const kCodes[] = {"registry", "native", "utf8"};
    return kCodes[static_cast<int>(code)];
}

class FakeControls : public FormControls {
public:
    // What was done, in order: "set txtStatus registry Registry Search Started", "paint txtStatus",
    // "tell utf8 ...", "hide", "quit 0", ...
    std::vector<std::string> log;
    std::map<ControlId, std::string> texts;
    std::map<ControlId, int> checks{{ControlId::Check1, 1}, {ControlId::Check2, 0}};
    std::function<RunWindow::Answer(const std::string&)> answer = [](const std::string&) {
        return kCancel;
    };

    void SetControlText(ControlId id, const std::string& text, TextCode code) override {
        texts[id] = text;
        log.push_back(std::string("set ") + NameOf(id) + " " + CodeOf(code) + " " + text);
    }
    std::string ControlText(ControlId id) const override {
        const auto found = texts.find(id);
        return found != texts.end() ? found->second : std::string();
    }
    int CheckValue(ControlId id) const override { return checks.at(id); }
    void PaintControlNow(ControlId id) override {
        log.push_back(std::string("paint ") + NameOf(id));
    }
    void PaintWindowNow() override { log.push_back("paint window"); }
    RunWindow::Answer AskOkCancel(const std::string& question) override {
        log.push_back("ask " + question);
        return answer(question);
    }
    void Tell(const std::string& text, TextCode code) override {
        log.push_back(std::string("tell ") + CodeOf(code) + " " + text);
    }
    void HideWindow() override { log.push_back("hide"); }
    void QuitEventLoop(int exitStatus) override {
        log.push_back("quit " + std::to_string(exitStatus));
    }
    void PumpEvents() override {
        if (onPump) onPump();
    }
    std::string LocalTimeText() override { return "10:11:12"; }
    std::function<void()> onPump;
};

class TestForm : public FennickForm {
public:
    using FennickForm::FennickForm;
    int Exec() override { return 0; }
};

class FormTest : public ::testing::Test {
protected:
    FormTest() {
        RegisterSuite(registry);
        RegisterOthers(registry);
        folder.Write("taRegKeywords.txt", "Tarvo\r\n");
        controls.texts[ControlId::txtKeyFile] = folder.File("taRegKeywords.txt");
        controls.texts[ControlId::txtRegFile] = folder.File("taDeletedRegKeys.reg");
        form.Attach(run);
        form.SetEnder([this](int status) { ends.push_back(status); });
    }

    TempFolder folder;
    platform::MemoryRegistry registry;
    std::unique_ptr<FakeControls> made = std::make_unique<FakeControls>();
    FakeControls& controls = *made;
    std::chrono::steady_clock::time_point now{};  // the form's clock: moves only when told
    TestForm form{std::move(made), [this] { return now; }};
    modRegFuncs reg{registry, form};
    modFennick fennick{reg, form};
    FennickRun run{fennick, form};
    std::vector<int> ends;
};

TEST_F(FormTest, FieldsAreWrittenOnlyOnceARunHasStartedEachPaintedAtOnce) {
    form.UpdateStatusText("early");
    form.UpdateRegistryHiveText("early");
    form.UpdateKeywordText("early");
    EXPECT_THAT(controls.log, IsEmpty());

    controls.answer = [](const std::string&) { return kOk; };
    form.cmdRemove_Click();

    // Registry text in its own code, each field painted before the run goes on; the times are
    // the toolkit's own text.
    EXPECT_THAT(std::vector<std::string>(controls.log.begin(), controls.log.begin() + 7),
                ElementsAre("set Text1 native ", "set Text2 native ", "paint window",
                            "set Text1 native 10:11:12", "set txtStatus registry " +
                            std::string(runtext::kSearchStarted), "paint txtStatus",
                            "paint window"));
    EXPECT_THAT(controls.log, Contains("set txtRegistryHive registry HKEY_CLASSES_ROOT\\CLSID"));
    EXPECT_THAT(controls.log, Contains("set txtKeyWord registry Tarvo"));
    EXPECT_EQ(controls.texts[ControlId::txtStatus], runtext::kRemoveKeysCompleted);
    EXPECT_EQ(controls.texts[ControlId::Text2], "10:11:12");
    EXPECT_TRUE(SuiteClassesGone(registry));
    EXPECT_THAT(folder.Read("taDeletedRegKeys.reg"), ::testing::HasSubstr(kSuiteClsid));
    EXPECT_THAT(ends, IsEmpty());
}

// A search shows each keyword, but the field is painted at most once in the paint interval: with
// the latest keyword when the interval is over, and before anything else is shown or asked with
// the last one.
TEST_F(FormTest, TheKeywordFieldIsPaintedAtMostOncePerIntervalAndEndsOnTheLastKeyword) {
    const auto keywordLog = [this] {
        std::vector<std::string> shown;
        for (const std::string& entry : controls.log) {
            if (entry.find("txtKeyWord") != std::string::npos) shown.push_back(entry);
        }
        controls.log.clear();
        return shown;
    };
    fennick.RunStarted = true;
    form.UpdateKeywordText("a");
    form.UpdateKeywordText("b");
    now += FennickForm::kKeywordPaintInterval / 2;
    form.UpdateKeywordText("c");
    form.DoEvents();
    EXPECT_THAT(keywordLog(), ElementsAre("set txtKeyWord registry a", "paint txtKeyWord"));
    now += FennickForm::kKeywordPaintInterval / 2;
    form.DoEvents();  // the interval is over: the latest
    form.UpdateKeywordText("d");
    EXPECT_THAT(keywordLog(), ElementsAre("set txtKeyWord registry c", "paint txtKeyWord"));
    form.Ask("?");  // the last, before the question
    EXPECT_THAT(controls.log, ElementsAre("set txtKeyWord registry d", "paint txtKeyWord", "ask ?"));
    controls.log.clear();

    // A whole run over a long list, each yield a millisecond: a few paints, not one a keyword.
    std::string words;
    for (int i = 0; i < 2000; ++i) words += "Kw" + std::to_string(i) + "\r\n";
    folder.Write("taRegKeywords.txt", words + "Tarvo\r\n");
    int yields = 0;
    controls.onPump = [&] {
        ++yields;
        now += std::chrono::milliseconds(1);
    };
    form.cmdRemove_Click();
    const auto paints = std::count(controls.log.begin(), controls.log.end(), "paint txtKeyWord");
    EXPECT_GT(yields, 8000);
    EXPECT_LE(paints, yields / 40 + 20);
    EXPECT_TRUE(SuiteClassesThere(registry));  // the question was answered Cancel
}

TEST_F(FormTest, ClosingDuringARunActsAsCancelOnceAndWhenIdleEndsNothing) {
    form.WindowClosing();
    EXPECT_THAT(controls.log, IsEmpty());
    EXPECT_THAT(ends, IsEmpty());

    controls.answer = [this](const std::string&) {
        form.WindowClosing();
        form.WindowClosing();  // the window is going already: not a second Cancel
        return kCancel;
    };
    form.cmdRemove_Click();

    EXPECT_EQ(std::count(controls.log.begin(), controls.log.end(), "hide"), 1);
    EXPECT_THAT(ends, ElementsAre(0));
    EXPECT_TRUE(SuiteClassesThere(registry));
}

TEST_F(FormTest, ARunThatFailsIsToldAndEndsTheProgramWithOne) {
    controls.answer = [](const std::string&) -> RunWindow::Answer {
        throw std::runtime_error("the disc went away");
    };

    form.cmdRemove_Click();

    ASSERT_GE(controls.log.size(), 2u);
    EXPECT_THAT(std::vector<std::string>(controls.log.end() - 2, controls.log.end()),
                ElementsAre("tell utf8 The run stopped: the disc went away\r\n"
                            "The program ends now.",
                            "hide"));
    EXPECT_THAT(ends, ElementsAre(1));
}

TEST(FormWithoutARun, CancelHidesTheWindowAndEndsItsEventLoop) {
    auto made = std::make_unique<FakeControls>();
    FakeControls& controls = *made;
    TestForm form{std::move(made)};

    form.cmdRemove_Click();  // no run: nothing happens
    form.cmdCancel_Click();

    EXPECT_THAT(controls.log, ElementsAre("hide", "quit 0"));
}

}  // namespace
}  // namespace cleaner::test
