// The load, save and valley boxes in a designer's words, from the real
// loader's and saver's reasons, and the number texts under a German C locale.
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>

#include "frontend/messages.h"
#include "heartline/valley.h"
#include "samples/sample_tracks.h"
#include "tests/support/german_locale.h"
#include "tests/support/track_builder.h"
#include "trackfile/track_file.h"

namespace cvqrn::ui::test {
namespace {

using testsupport::Contains;

constexpr const char* kGeneralReason = "It cannot be read as a track file.";

// Technical words a designer should not meet in the box's text.
void ExpectPlain(const std::string& text, const std::string& why) {
    for (const char* word : {"chunk", "BEZR", "SEGM", "TRCK", "CORV", "at byte", "errno"}) {
        EXPECT_FALSE(Contains(text, word)) << why << ": " << text;
    }
}

std::string Refusal(const std::string& path) {
    TrackData track;
    const Result result = LoadTrack(path, track);
    EXPECT_FALSE(result) << path;
    return result.message;
}

TEST(LoadErrorBox, NamesTheFileAndGivesTheReasonInPlainWords) {
    const testsupport::TempDir dir;
    TrackData family = FamilyCoaster();
    ASSERT_TRUE(SaveTrack(dir.File("family.cvtrack"), family));
    const std::vector<uint8_t> whole = testsupport::ReadFileBytes(dir.File("family.cvtrack"));
    const auto cut = [&](const char* name, size_t bytes) {
        testsupport::WriteFileBytes(dir.File(name), std::span(whole).first(bytes));
        return dir.File(name);
    };
    testsupport::WriteFileBytes(dir.File("renamed.trk"), whole);
    testsupport::WriteFileBytes(dir.File("notes.cvtrack"), std::vector<uint8_t>(40, 'x'));
    std::filesystem::create_directory(dir.File("folder.cvtrack"));
    // the file, what the plain reason must say
    const std::pair<std::string, const char*> cases[] = {
        // The vertices' bytes are counted as a designer reads numbers, with a comma.
        {cut("short.cvtrack", 287),
         "The file ends early: the track's vertices need 3,960 bytes, only 74 are left."},
        {cut("header.cvtrack", 100), "The file ends early, inside the track's header."},
        {cut("empty.cvtrack", 2), "It is too short to be a track file"},
        {dir.File("notes.cvtrack"), "It is not a track file of the coaster simulator"},
        // A track handed over under another name: the message names the rule.
        {dir.File("renamed.trk"), "CV-QRN opens only files whose names end in \".cvtrack\"."},
        {dir.File("folder.cvtrack"), "It is a folder"},
        {dir.File("gone.cvtrack"), "The file does not exist"},
    };
    for (const auto& [path, says] : cases) {
        const std::string reason = Refusal(path);
        const std::string text = LoadErrorText(path, reason);
        const std::string name = std::filesystem::path(path).filename().string();
        EXPECT_TRUE(text.starts_with("Error Loading Track File!\n\nCV-QRN cannot open \"" + name +
                                     "\". "))
            << text;
        EXPECT_TRUE(Contains(text, says)) << reason << "\n" << text;
        ExpectPlain(text, reason);
    }
}

TEST(LoadErrorBox, EveryDamagedFileGetsItsOwnPlainReasonNotTheGeneralOne) {
    // A loader reason whose wording changed falls back to the general
    // sentence; every kind of damage must still be told in its own words.
    for (const testsupport::HostileFile& file : testsupport::HostileFiles()) {
        TrackData track;
        const Result result = DecodeTrack(file.bytes, track);
        ASSERT_FALSE(result) << file.name;
        const std::string plain = PlainLoadReason(result.message);
        EXPECT_NE(plain, kGeneralReason) << file.name << ": " << result.message;
        ExpectPlain(plain, file.name);
    }
}

TEST(SaveErrorBox, AWholeSentenceThatSaysWhatToDoNotTheSystemsWords) {
    const testsupport::TempDir dir;
    // where the save goes, the sentence under the heading (or its start)
    const std::pair<std::string, std::string> cases[] = {
        {"/proc/out.cvtrack", "CV-QRN cannot create a file in /proc. Choose another folder."},
        {dir.File("missing/out.cvtrack"),
         "The folder " + dir.File("missing") + " does not exist. Choose another folder."},
        {dir.Path(), "\"" + dir.Path() + "\" is a folder. Choose a file name for the track."},
    };
    for (const auto& [path, sentence] : cases) {
        TrackData track = FamilyCoaster();
        const SaveResult result = SaveTrack(path, track);
        ASSERT_FALSE(result) << path;
        EXPECT_EQ(SaveErrorText(path, result.message), "Error Saving Track File!\n\n" + sentence)
            << result.message;
    }
    // A reason it does not know still says what to do, in a sentence of its own.
    EXPECT_EQ(SaveErrorText("/t/a.cvtrack", "cannot flush the file to disk: Input/output error"),
              "Error Saving Track File!\n\nCV-QRN could not save the track as \"/t/a.cvtrack\". "
              "Choose another folder or name and save again.");
}

// A process whose C locale is German, as QApplication makes it from the desktop.
class GermanLocale : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(testsupport::UseGermanLocale()) << "no German locale";
        ASSERT_STREQ(std::localeconv()->decimal_point, ",")
            << "the locale must really print a decimal comma";
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(GermanLocale, TheValleyAdviceAndItsBoxPrintAPoint) {
    EXPECT_EQ(ValleyAdviceText(18.0), "With V in at least 18.0 m/s the train clears every hill");
    EXPECT_TRUE(ValleyBoxText(17.3).ends_with("\n\nWith V in at least 17.3 m/s the train "
                                               "clears every hill."));
    EXPECT_EQ(ValleyBoxText(std::nullopt),
              "Something went wrong! The train probably valleyed. Check the speed settings.");
}

}  // namespace
}  // namespace cvqrn::ui::test
