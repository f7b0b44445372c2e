#include "pagefont.h"

#include <QString>

#include <algorithm>
#include <utility>

namespace pages {

QFont pageFont(double pixels, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Arial"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("Microsoft YaHei")});
    font.setPixelSize(std::max(1, int(pixels + 0.5)));
    font.setBold(bold);
    return font;
}

namespace {

int hexDigit(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "<2F2F>" at i: the code point; -1 when it is not four hex digits in brackets.
int codeAt(const QByteArray &b, int i)
{
    if (i + 6 > b.size() || b[i] != '<' || b[i + 5] != '>')
        return -1;
    int u = 0;
    for (int k = 1; k <= 4; ++k) {
        const int d = hexDigit(b[i + k]);
        if (d < 0)
            return -1;
        u = u * 16 + d;
    }
    return u;
}

// The CJK Radicals Supplement's equivalent ideographs in the Basic
// Multilingual Plane (Unicode 15's EquivalentUnifiedIdeograph.txt): these
// have no compatibility form. A few stand for ideographs beyond the plane;
// the text layer cannot name those in four hex digits and keeps the radical.
const std::pair<int, int> kSupplement[] = {
    {0x2E81, 0x5382}, {0x2E82, 0x4E5B}, {0x2E83, 0x4E5A}, {0x2E84, 0x4E59}, {0x2E85, 0x4EBB}, {0x2E86, 0x5182},
    {0x2E88, 0x5200}, {0x2E89, 0x5202}, {0x2E8A, 0x535C}, {0x2E8B, 0x353E}, {0x2E8C, 0x5C0F}, {0x2E8D, 0x5C0F},
    {0x2E8E, 0x5140}, {0x2E8F, 0x5C23}, {0x2E90, 0x5C22}, {0x2E92, 0x5DF3}, {0x2E93, 0x5E7A}, {0x2E94, 0x5F51},
    {0x2E96, 0x5FC4}, {0x2E97, 0x5FC3}, {0x2E98, 0x624C}, {0x2E99, 0x6535}, {0x2E9B, 0x65E1}, {0x2E9C, 0x65E5},
    {0x2E9D, 0x6708}, {0x2E9E, 0x6B7A}, {0x2E9F, 0x6BCD}, {0x2EA0, 0x6C11}, {0x2EA1, 0x6C35}, {0x2EA2, 0x6C3A},
    {0x2EA3, 0x706C}, {0x2EA4, 0x722B}, {0x2EA5, 0x722B}, {0x2EA6, 0x4E2C}, {0x2EA7, 0x725B}, {0x2EA8, 0x72AD},
    {0x2EA9, 0x738B}, {0x2EAB, 0x76EE}, {0x2EAC, 0x793A}, {0x2EAD, 0x793B}, {0x2EAF, 0x7CF9}, {0x2EB0, 0x7E9F},
    {0x2EB1, 0x7F53}, {0x2EB2, 0x7F52}, {0x2EB3, 0x34C1}, {0x2EB4, 0x5197}, {0x2EB6, 0x7F8A}, {0x2EB9, 0x8002},
    {0x2EBA, 0x8080}, {0x2EBB, 0x807F}, {0x2EBC, 0x8089}, {0x2EBE, 0x8279}, {0x2EBF, 0x8279}, {0x2EC0, 0x8279},
    {0x2EC1, 0x864E}, {0x2EC2, 0x8864}, {0x2EC3, 0x8980}, {0x2EC4, 0x897F}, {0x2EC5, 0x89C1}, {0x2EC6, 0x89D2},
    {0x2EC8, 0x8BA0}, {0x2EC9, 0x8D1D}, {0x2ECB, 0x8F66}, {0x2ECC, 0x8FB6}, {0x2ECD, 0x8FB6}, {0x2ECE, 0x8FB6},
    {0x2ECF, 0x9091}, {0x2ED0, 0x9485}, {0x2ED1, 0x9577}, {0x2ED2, 0x9578}, {0x2ED3, 0x957F}, {0x2ED4, 0x95E8},
    {0x2ED6, 0x961D}, {0x2ED7, 0x96E8}, {0x2ED8, 0x9752}, {0x2ED9, 0x97E6}, {0x2EDA, 0x9875}, {0x2EDB, 0x98CE},
    {0x2EDC, 0x98DE}, {0x2EDD, 0x98DF}, {0x2EDF, 0x98E0}, {0x2EE0, 0x9963}, {0x2EE2, 0x9A6C}, {0x2EE3, 0x9AA8},
    {0x2EE4, 0x9B3C}, {0x2EE5, 0x9C7C}, {0x2EE6, 0x9E1F}, {0x2EE7, 0x5364}, {0x2EE8, 0x9EA6}, {0x2EE9, 0x9EC4},
    {0x2EEA, 0x9EFE}, {0x2EEB, 0x6589}, {0x2EEC, 0x9F50}, {0x2EED, 0x6B6F}, {0x2EEE, 0x9F7F}, {0x2EEF, 0x7ADC},
    {0x2EF0, 0x9F99}, {0x2EF1, 0x9F9C}, {0x2EF2, 0x4E80}, {0x2EF3, 0x9F9F},
};

// The ideograph a radical stands for, or 0.
int ideographOf(int u)
{
    if (u >= 0x2F00 && u <= 0x2FDF) { // Kangxi radicals: each has its compatibility form
        const QString nfkc = QString(QChar(u)).normalized(QString::NormalizationForm_KC);
        return nfkc.size() == 1 && nfkc[0].unicode() >= 0x3400 ? nfkc[0].unicode() : 0;
    }
    const auto *end = std::end(kSupplement);
    const auto *it = std::lower_bound(std::begin(kSupplement), end, std::make_pair(u, 0));
    return it != end && it->first == u ? it->second : 0;
}

// One bfrange/bfchar line's targets: "<a> <b> <u>" (u the first of b − a + 1
// in a row: mended only when it stands alone), "<a> <b> [<u> …]", "<a> <u>".
void mendLine(QByteArray &b, int from, int to)
{
    QVector<int> codes; // positions of the bracketed codes on the line
    bool array = false;
    for (int i = from; i < to; ++i) {
        if (b[i] == '[')
            array = true;
        if (b[i] == '<')
            codes << i;
    }
    auto mend = [&b](int at) {
        const int ideograph = ideographOf(codeAt(b, at));
        if (ideograph)
            b.replace(at + 1, 4, QByteArray::number(ideograph, 16).toUpper().rightJustified(4, '0'));
    };
    if (array) {
        for (int k = 2; k < codes.size(); ++k)
            mend(codes[k]);
    } else if (codes.size() == 3 && codeAt(b, codes[0]) == codeAt(b, codes[1])) {
        mend(codes[2]);
    } else if (codes.size() == 2) {
        mend(codes[1]);
    }
}

} // namespace

QByteArray mendTextLayer(QByteArray pdf)
{
    static const QByteArray kBegin("/CMapName /Adobe-Identity-UCS"), kEnd("endcmap");
    for (int at = pdf.indexOf(kBegin); at >= 0; at = pdf.indexOf(kBegin, at)) {
        const int end = pdf.indexOf(kEnd, at);
        if (end < 0)
            break;
        for (int line = at; line < end;) {
            int next = pdf.indexOf('\n', line);
            if (next < 0 || next > end)
                next = end;
            mendLine(pdf, line, next);
            line = next + 1;
        }
        at = end;
    }
    return pdf;
}

} // namespace pages
