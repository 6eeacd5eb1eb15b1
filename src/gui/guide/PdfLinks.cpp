#include "gui/guide/PdfLinks.h"

#include <QRegularExpression>
#include <algorithm>
#include <optional>

namespace tavrel::guide {

namespace {

struct PdfFile {
    std::map<int, qsizetype> offsets;  // object number -> offset of "N 0 obj"
    int size = 0;
    int root = 0;
    int info = 0;
    qsizetype xref = 0;
};

std::optional<int> Number(const QString& text, const QString& pattern) {
    const auto match = QRegularExpression(pattern).match(text);
    if (!match.hasMatch()) return std::nullopt;
    return match.captured(1).toInt();
}

// The cross-reference table and trailer Qt writes: one table, objects in use marked "n".
std::optional<PdfFile> ReadStructure(const QByteArray& pdf, QString& error) {
    PdfFile file;
    const qsizetype start = pdf.lastIndexOf("startxref");
    if (start < 0) {
        error = "no startxref";
        return std::nullopt;
    }
    const QString tail = QString::fromLatin1(pdf.mid(start));
    const auto xref = Number(tail, R"(startxref\s+(\d+))");
    if (!xref || *xref <= 0 || *xref >= pdf.size() || !pdf.mid(*xref).startsWith("xref")) {
        error = "no cross-reference table where startxref points";
        return std::nullopt;
    }
    file.xref = *xref;
    const qsizetype trailer = pdf.indexOf("trailer", file.xref);
    if (trailer < 0) {
        error = "no trailer";
        return std::nullopt;
    }
    const QString table = QString::fromLatin1(pdf.mid(file.xref, trailer - file.xref));
    const QStringList lines = table.split('\n', Qt::SkipEmptyParts);
    int next = -1;
    int left = 0;
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList words = lines[i].split(' ', Qt::SkipEmptyParts);
        if (left == 0 && words.size() == 2) {
            next = words[0].toInt();
            left = words[1].toInt();
            continue;
        }
        if (words.size() != 3 || left == 0) {
            error = "a cross-reference line that is not one: " + lines[i];
            return std::nullopt;
        }
        if (words[2] == "n") file.offsets[next] = words[0].toLongLong();
        ++next;
        --left;
    }
    const QString dictionary = QString::fromLatin1(pdf.mid(trailer, start - trailer));
    const auto size = Number(dictionary, R"(/Size\s+(\d+))");
    const auto root = Number(dictionary, R"(/Root\s+(\d+)\s+0\s+R)");
    const auto info = Number(dictionary, R"(/Info\s+(\d+)\s+0\s+R)");
    if (!size || !root) {
        error = "a trailer without /Size or /Root";
        return std::nullopt;
    }
    file.size = *size;
    file.root = *root;
    file.info = info.value_or(0);
    return file;
}

QString ObjectText(const QByteArray& pdf, qsizetype offset) {
    const qsizetype end = pdf.indexOf("endobj", offset);
    return QString::fromLatin1(pdf.mid(offset, end < 0 ? -1 : end - offset));
}

QByteArray Utf16Hex(const QString& text) {
    QByteArray out = "<FEFF";
    for (QChar c : text) out += QByteArray::number(c.unicode(), 16).rightJustified(4, '0').toUpper();
    return out + ">";
}

QByteArray Dest(const std::vector<int>& pages, const PdfDestination& d) {
    return "[" + QByteArray::number(pages[static_cast<size_t>(d.page)]) + " 0 R /XYZ 0 " +
           QByteArray::number(d.top, 'f', 2) + " null]";
}

}  // namespace

bool AddInternalLinks(QByteArray& pdf, const std::map<QString, PdfDestination>& destinations,
                      const std::vector<PdfOutlineEntry>& outline, QString& error) {
    const auto file = ReadStructure(pdf, error);
    if (!file) return false;
    const auto rootAt = file->offsets.find(file->root);
    if (rootAt == file->offsets.end()) {
        error = "no catalog object";
        return false;
    }
    const auto pagesObject = Number(ObjectText(pdf, rootAt->second), R"(/Pages\s+(\d+)\s+0\s+R)");
    if (!pagesObject || !file->offsets.count(*pagesObject)) {
        error = "a catalog without its page tree";
        return false;
    }
    std::vector<int> pages;
    {
        const auto kids = QRegularExpression(R"(/Kids\s*\[([^\]]*)\])").match(ObjectText(pdf, file->offsets.at(*pagesObject)));
        if (!kids.hasMatch()) {
            error = "a page tree without /Kids";
            return false;
        }
        auto it = QRegularExpression(R"((\d+)\s+0\s+R)").globalMatch(kids.captured(1));
        while (it.hasNext()) pages.push_back(it.next().captured(1).toInt());
    }
    auto valid = [&](const PdfDestination& d) { return d.page >= 0 && static_cast<size_t>(d.page) < pages.size(); };

    // New versions of the link objects, the outline and the catalog.
    std::map<int, QByteArray> objects;
    const QRegularExpression uri(R"(/URI\s*\(#([^)]*)\))");
    const QRegularExpression rect(R"(/Rect\s*\[([^\]]*)\])");
    for (const auto& [number, offset] : file->offsets) {
        const QString text = ObjectText(pdf, offset);
        if (!text.contains("/Subtype /Link")) continue;
        const auto name = uri.match(text);
        if (!name.hasMatch()) continue;
        const auto target = destinations.find(name.captured(1));
        if (target == destinations.end() || !valid(target->second)) {
            error = "a link to #" + name.captured(1) + ", which is no place in the document";
            return false;
        }
        objects[number] = "<<\n/Type /Annot\n/Subtype /Link\n/Rect [" + rect.match(text).captured(1).toLatin1() +
                          "]\n/Border [0 0 0]\n/Dest " + Dest(pages, target->second) + "\n>>";
    }

    QByteArray catalogExtra;
    if (!outline.empty()) {
        int next = file->size;
        const int root = next++;
        std::vector<int> numbers;
        for (size_t i = 0; i < outline.size(); ++i) numbers.push_back(next++);
        // Parents and siblings: an entry of level 2 hangs under the last level-1 entry.
        std::vector<int> parent(outline.size(), -1);
        for (size_t i = 0, top = 0; i < outline.size(); ++i) {
            if (outline[i].level <= 1 || i == 0)
                top = i;
            else
                parent[i] = static_cast<int>(top);
        }
        auto siblings = [&](int p) {
            std::vector<size_t> out;
            for (size_t i = 0; i < outline.size(); ++i)
                if (parent[i] == p) out.push_back(i);
            return out;
        };
        // The outline shows the chapters; a chapter's sections open under it (a negative count:
        // closed until the reader opens it).
        auto link = [&](const std::vector<size_t>& row, QByteArray& firstLast, int sign) {
            if (row.empty()) return;
            firstLast += "/First " + QByteArray::number(numbers[row.front()]) + " 0 R\n/Last " +
                         QByteArray::number(numbers[row.back()]) + " 0 R\n/Count " +
                         QByteArray::number(sign * static_cast<int>(row.size())) + "\n";
        };
        const auto topRow = siblings(-1);
        QByteArray rootText = "<<\n/Type /Outlines\n";
        link(topRow, rootText, 1);
        objects[root] = rootText + ">>";
        for (size_t i = 0; i < outline.size(); ++i) {
            if (!valid(outline[i].destination)) {
                error = "an outline entry on no page: " + outline[i].title;
                return false;
            }
            const auto row = siblings(parent[i]);
            const auto at = std::find(row.begin(), row.end(), i) - row.begin();
            QByteArray text = "<<\n/Title " + Utf16Hex(outline[i].title) + "\n/Parent " +
                              QByteArray::number(parent[i] < 0 ? root : numbers[static_cast<size_t>(parent[i])]) +
                              " 0 R\n";
            if (at > 0) text += "/Prev " + QByteArray::number(numbers[row[static_cast<size_t>(at - 1)]]) + " 0 R\n";
            if (static_cast<size_t>(at + 1) < row.size())
                text += "/Next " + QByteArray::number(numbers[row[static_cast<size_t>(at + 1)]]) + " 0 R\n";
            link(siblings(static_cast<int>(i)), text, -1);
            objects[numbers[i]] = text + "/Dest " + Dest(pages, outline[i].destination) + "\n>>";
        }
        catalogExtra = "/Outlines " + QByteArray::number(root) + " 0 R\n/PageMode /UseOutlines\n";
    }
    objects[file->root] = "<<\n/Type /Catalog\n/Pages " + QByteArray::number(*pagesObject) + " 0 R\n" + catalogExtra + ">>";

    // The update: the objects, a cross-reference section for them, and a trailer back to the old one.
    QByteArray update = pdf.endsWith('\n') ? QByteArray() : QByteArray("\n");
    std::map<int, qsizetype> written;
    int size = file->size;
    for (const auto& [number, text] : objects) {
        written[number] = pdf.size() + update.size();
        update += QByteArray::number(number) + " 0 obj\n" + text + "\nendobj\n";
        size = std::max(size, number + 1);
    }
    const qsizetype xrefAt = pdf.size() + update.size();
    update += "xref\n";
    for (const auto& [number, offset] : written)
        update += QByteArray::number(number) + " 1\n" + QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    update += "trailer\n<<\n/Size " + QByteArray::number(size) + "\n/Root " + QByteArray::number(file->root) + " 0 R\n";
    if (file->info != 0) update += "/Info " + QByteArray::number(file->info) + " 0 R\n";
    update += "/Prev " + QByteArray::number(file->xref) + "\n>>\nstartxref\n" + QByteArray::number(xrefAt) + "\n%%EOF\n";
    pdf += update;
    return true;
}

}  // namespace tavrel::guide
