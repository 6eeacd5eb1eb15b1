// The user guide as the build lays it out: chapters on pages of their own, no heading left at a
// page's foot, a contents page whose lines jump to their pages, the window's chips.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QFile>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextDocument>
#include <cstdio>
#include <string>

#include "Recorders.h"
#include "gui/guide/GuidePdf.h"
#include "gui/guide/PdfLinks.h"
#include "model/Catalogue.h"

namespace tavrel {
namespace {

const QString kGuideSource = QString(TAVREL_SOURCE_DIR) + "/docs/user-guide.md";

class UserGuide : public ::testing::Test {
protected:
    void SetUp() override {
        QStringList warnings;
        QString error;
        ASSERT_TRUE(guide::WriteGuidePdf(kGuideSource, pdf, warnings, error, &laidOut)) << error.toStdString();
        EXPECT_TRUE(warnings.isEmpty()) << warnings.join("\n").toStdString();
    }
    const guide::GuideHeading* Chapter(const QString& title) const {
        for (const auto& heading : laidOut.headings)
            if (heading.level == 2 && heading.title == title) return &heading;
        return nullptr;
    }

    test::TempDir dir;
    QString pdf = QString::fromStdString((dir / "guide.pdf").string());
    guide::LaidOutGuide laidOut;
};

TEST_F(UserGuide, ChaptersStartPagesOfTheirOwnAndNoHeadingStaysAtAPagesFoot) {
    EXPECT_TRUE(guide::StrandedHeadings(*laidOut.document, laidOut.pageSize.height()).empty());
    int lastChapterPage = 0;  // the contents are on the first page
    std::vector<const guide::GuideHeading*> chapters;
    for (const auto& heading : laidOut.headings) {
        if (heading.level != 2) continue;
        EXPECT_GT(heading.page, lastChapterPage) << heading.title.toStdString();
        lastChapterPage = heading.page;
        chapters.push_back(&heading);
    }
    // A page each on the command line, the simulated board and the production line.
    for (const char* title : {"The command line", "The simulated board", "The production line"}) {
        SCOPED_TRACE(title);
        const auto* chapter = Chapter(title);
        ASSERT_NE(chapter, nullptr);
        const auto at = std::find(chapters.begin(), chapters.end(), chapter);
        ASSERT_NE(at + 1, chapters.end());
        EXPECT_EQ((*(at + 1))->page, chapter->page + 1);
    }
}

TEST_F(UserGuide, TheContentsLinesJumpToTheirHeadingsPages) {
    // poppler reads the links as a viewer does (with the update the links were written in).
    std::FILE* reader = ::popen(("pdftohtml -xml -i -stdout -f 1 -l 1 '" + pdf.toStdString() + "' 2>/dev/null").c_str(), "r");
    ASSERT_NE(reader, nullptr);
    std::string xml;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, reader)) > 0;) xml.append(buffer, got);
    const int status = ::pclose(reader);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) GTEST_SKIP() << "pdftohtml (poppler-utils) is not installed";
    std::vector<int> targets;
    auto links = QRegularExpression(R"re(<a href="[^"#]*#(\d+)")re").globalMatch(QString::fromStdString(xml));
    while (links.hasNext()) targets.push_back(links.next().captured(1).toInt());
    std::vector<int> pages;
    for (const auto& heading : laidOut.headings) pages.push_back(heading.page + 1);
    ASSERT_FALSE(pages.empty());
    // A line of the contents may be drawn in more than one piece, each a link of its own.
    targets.erase(std::unique(targets.begin(), targets.end()), targets.end());
    std::vector<int> expected = pages;
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    EXPECT_EQ(targets, expected) << xml;
}

TEST(UserGuideText, NamesTheChipsOfTheWindowsChipList) {
    QFile source(kGuideSource);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(source.readAll()).simplified();
    QString list;
    for (size_t i = 0; i < kMainWindowChips.size(); ++i) {
        if (i > 0) list += i + 1 == kMainWindowChips.size() ? " or " : ", ";
        list += QString::fromUtf8(kMainWindowChips[i].data(), static_cast<qsizetype>(kMainWindowChips[i].size()));
    }
    EXPECT_TRUE(text.contains("Choose the chip in **Chip** (" + list + ")")) << list.toStdString();
    EXPECT_TRUE(text.contains("flash of a " + list + " (the four chips of its **Chip** list)")) << list.toStdString();
}

TEST(UserGuideText, TheCommandLineChapterNamesEveryCommand) {
    std::FILE* help = ::popen((std::string("'") + TAVREL_CLI_PATH + "' --help 2>/dev/null").c_str(), "r");
    ASSERT_NE(help, nullptr);
    std::string text;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, help)) > 0;) text.append(buffer, got);
    if (::pclose(help) != 0 || text.empty()) GTEST_SKIP() << "no tavrel-cli at " << TAVREL_CLI_PATH;
    QFile source(kGuideSource);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QString guide = QString::fromUtf8(source.readAll());
    const QString chapter = guide.mid(guide.indexOf("## The command line"), guide.indexOf("## The simulated board") - guide.indexOf("## The command line"));
    // The table's first column: "| `program` |", "| `list`, `ports` |".
    const QString commands = QString::fromStdString(text).section("Subcommands:", 1);
    auto lines = QRegularExpression(R"(^  ([a-z0-9-]+)\s)", QRegularExpression::MultilineOption).globalMatch(commands);
    int named = 0;
    while (lines.hasNext()) {
        const QString command = lines.next().captured(1);
        ++named;
        EXPECT_TRUE(QRegularExpression("\\n\\| [^|]*`" + command + "`[^|]*\\|").match(chapter).hasMatch())
            << command.toStdString() << " is not in the guide's table of commands";
    }
    EXPECT_GT(named, 5);
}

TEST(PdfLinks, ALinkToNoPlaceIsRefusedAndTheFileLeftAsItWas) {
    test::TempDir dir;
    const QString path = QString::fromStdString((dir / "link.pdf").string());
    {
        QTextDocument document;
        document.setMarkdown("[nowhere](#nowhere)");
        QPdfWriter writer(path);
        document.print(&writer);
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QByteArray pdf = written;
    QString error;
    EXPECT_FALSE(guide::AddInternalLinks(pdf, {{"elsewhere", {0, 100}}}, {}, error));
    EXPECT_EQ(error, "a link to #nowhere, which is no place in the document");
    EXPECT_EQ(pdf, written);

    QByteArray truncated = written.left(written.size() / 2);
    EXPECT_FALSE(guide::AddInternalLinks(truncated, {}, {}, error));
    EXPECT_EQ(truncated, written.left(written.size() / 2));
}

}  // namespace
}  // namespace tavrel
