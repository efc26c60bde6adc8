// A file rewritten in place: its bytes flushed before its name changes, and the name
// change flushed, so that a power cut at any call leaves the old or the new file.
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "platform/sim/sim_file_system.h"
#include "support/testkit.h"

namespace {

using Op = plat::sim::SimFileSystem::Op;

class AtomicFileTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        testkit::SimBoardTest::SetUp();
        fs = plat::sim::simFileSystem();
        ASSERT_NE(fs, nullptr);
    }
    // The next test in this process gets a file system with the power on.
    void TearDown() override {
        plat::resetFileSystem();
        testkit::SimBoardTest::TearDown();
    }
    plat::sim::SimFileSystem* fs = nullptr;
};

const std::string kFile = "/data/configs/settings.ini";
const std::string kOld = "old settings", kNew = "new settings, longer than the old";

TEST_F(AtomicFileTest, ReplaceFlushesBytesThenRenamesThenFlushesTheFolderSoACutAnywhereLeavesOldOrNew) {
    testkit::writeFile(kFile, kOld);
    fs->record();
    ASSERT_TRUE(plat::replaceFileAtomically(plat::path(kFile), kNew));
    const std::vector<Op> ops = fs->operations();
    std::vector<std::string> kinds;
    for (const Op& op : ops) kinds.push_back(op.kind);
    ASSERT_EQ(kinds, (std::vector<std::string>{"write", "fsync", "rename", "fsync-folder"}));
    EXPECT_EQ(ops[1].path, ops[0].path) << "the temporary file is the one flushed";
    EXPECT_EQ(ops[2].path, ops[0].path);
    EXPECT_EQ(ops[2].to, kFile);
    EXPECT_EQ(ops[3].path, "/data/configs");

    for (size_t calls = 0; calls <= ops.size(); ++calls) {
        testkit::writeFile(kFile, kOld);
        fs->record();
        if (calls < ops.size()) fs->cutAfter(int(calls));
        plat::replaceFileAtomically(plat::path(kFile), kNew);
        if (calls == ops.size()) fs->cutNow();
        const std::string after = testkit::readFile(kFile);
        if (calls < ops.size())
            EXPECT_EQ(after, kOld) << "cut after " << calls << " calls";
        else
            EXPECT_EQ(after, kNew) << "cut after the whole replacement";
    }
}

TEST_F(AtomicFileTest, ReceivedFileCommittedSurvivesACutWhole) {
    testkit::writeFile(kFile, kOld);
    fs->record();
    plat::StagedFile staged;
    ASSERT_TRUE(staged.open(plat::path(kFile)));
    ASSERT_TRUE(staged.append(kNew.data(), 10));
    ASSERT_TRUE(staged.append(kNew.data() + 10, kNew.size() - 10));
    ASSERT_TRUE(staged.finish());
    ASSERT_TRUE(staged.commit());
    fs->cutNow();
    EXPECT_EQ(testkit::readFile(kFile), kNew);
}

}  // namespace
