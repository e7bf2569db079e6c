// Dropped files and the text/uri-list reader.
#include "Kiv_shelllibrary.h"
#include "TestFiles.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

using namespace Kiv_shelllibrary;
using Strings = std::vector<std::string>;

using TestFiles::MessageOf;

namespace {

TEST(DroppedFiles, PathsInOrderUntilFinished) {
    auto data = std::make_shared<const Strings>(Strings{"/a/one", "/b/two", "/c/three"});
    const std::weak_ptr<const Strings> watch = data;
    TDroppedFiles files(std::move(data));
    EXPECT_FALSE(files.IsFinished());
    EXPECT_EQ(files.Count(), 3);
    EXPECT_EQ(files.FilePath(0), "/a/one");
    EXPECT_EQ(files.FilePath(2), "/c/three");
    const std::string badIndex = "The program cannot get the path of a dropped file.";
    EXPECT_EQ(MessageOf<EFileDropError>([&] { files.FilePath(3); }), badIndex);
    EXPECT_EQ(MessageOf<EFileDropError>([&] { files.FilePath(-1); }), badIndex);

    files.Finish();
    EXPECT_TRUE(files.IsFinished());
    EXPECT_TRUE(watch.expired()); // the drop's data is released
    const std::string finished = "The file drop operation is already finished.";
    EXPECT_EQ(MessageOf<EFileDropError>([&] { files.Count(); }), finished);
    EXPECT_EQ(MessageOf<EFileDropError>([&] { files.FilePath(0); }), finished);
    files.Finish(); // nothing more
    EXPECT_TRUE(files.IsFinished());
    static_assert(std::is_base_of_v<EShellLibraryError, EFileDropError>);
}

TEST(UriList, LocalFilesInOrder) {
    EXPECT_EQ(FilePathsOfUriList("file:///home/u/a.txt\r\nfile:///home/u/b%20c.txt\r\n"
                                 "file://localhost/tmp/x\r\n"),
              (Strings{"/home/u/a.txt", "/home/u/b c.txt", "/tmp/x"}));
    // Comments, blank lines, a missing final line break, LF alone, and the short form.
    EXPECT_EQ(FilePathsOfUriList("# from the file manager\n\n  file:/etc/hosts  \nFILE:///Z"),
              (Strings{"/etc/hosts", "/Z"}));
    // Escaped bytes are kept as bytes, valid UTF-8 or not.
    EXPECT_EQ(FilePathsOfUriList("file:///t/%C3%A4%FF%2F"), (Strings{"/t/\xC3\xA4\xFF/"}));
}

TEST(UriList, AnythingButALocalFileGivesNothing) {
    EXPECT_EQ(FilePathsOfUriList("https://example.org/a\r\nfile://server/share/f\r\n"
                                 "file:relative\r\nfile:///q?x=1\r\nfile:///bad%2\r\n"
                                 "file:///nul%00byte\r\nfile:///bad%G1\r\nnot a uri\r\n"
                                 "file://localhost\r\n"),
              Strings{});
    EXPECT_EQ(FilePathsOfUriList(""), Strings{});
    EXPECT_EQ(FilePathsOfUriList(std::string("file:///a\0b\nfile:///c", 21)), Strings{"/c"});
}

} // namespace
