#include "pagereader.h"

#include "address.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <QUrl>

#include <utility>

namespace PageReader {

namespace {

constexpr int kMostKept = 4000;  // characters of an element's text kept to make its title from
constexpr int kMostShown = 200;  // characters of a title, a clip's name or a notice
constexpr int kLongestId = 1024; // a clip identifier goes into an address

bool isSpace(ushort c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

ushort lower(ushort c)
{
    return c >= 'A' && c <= 'Z' ? ushort(c + ('a' - 'A')) : c;
}

bool isLetter(ushort c)
{
    return lower(c) >= 'a' && lower(c) <= 'z';
}

// A clip identifier is base64, or its address-safe variant.
bool isIdentifier(const QString &id)
{
    if (id.isEmpty() || id.size() > kLongestId)
        return false;
    for (const QChar c : id) {
        const ushort u = c.unicode();
        if (!(isLetter(u) || (u >= '0' && u <= '9') || u == '+' || u == '/' || u == '=' || u == '-' || u == '_'))
            return false;
    }
    return true;
}

// As a reader sees it: entities decoded, white space runs made one space,
// trimmed, and no longer than a list row can show.
QString shown(const QString &raw)
{
    QString text = decodeEntities(raw).simplified();
    if (text.size() > kMostShown)
        text.truncate(text.at(kMostShown - 1).isHighSurrogate() ? kMostShown - 1 : kMostShown);
    return text;
}

QString translated(const char *text)
{
    return QCoreApplication::translate("PageReader", text);
}

// Offsets into the page.
struct Span
{
    int from = -1;
    int to = -1;

    bool found() const { return from >= 0; }
};

// The attributes the reading looks at; the first of each name counts.
struct Attributes
{
    Span id, klass, href, textvalue, alt, name, fileId, property, content;
};

enum class Element { Other, Anchor, Image, Voice, Meta, Title, RawText };

// The text of one element up to its end tag, such as a notice's heading.
struct Collector
{
    QString tag; // lower case; empty while not collecting
    QString raw;
    QString text; // once collected
};

class Reader
{
public:
    Reader(const QString &text, const QString &host)
        : m_text(text)
        , m_s(reinterpret_cast<const ushort *>(text.constData()))
        , m_n(text.size())
        , m_host(host.toLower())
    {
    }

    Reading read(const QUrl &address);

private:
    QString value(Span span) const { return m_text.mid(span.from, span.to - span.from); }
    bool is(Span span, const char *lowerCase) const;
    bool hasClass(Span classes, const char *name) const;
    Span tagName(int from) const;
    Element elementOf(Span name) const;
    int walkAttributes(int from, Attributes *found) const;
    void note(Span name, Span value, Attributes *found) const;
    int skipComment(int lt) const;
    int findEndTag(int from, Span name) const;

    void text(int from, int to);
    void startTag(Span name, Element element, const Attributes &attributes);
    void endTag(Span name);
    void keep(QString &raw, int from, int to) const;
    void collect(Collector &collector, Span name, Span classes, const char *className);
    void openAnchor(const Attributes &attributes);
    void closeAnchor();
    bool isArticle(const QString &href) const;
    void voiceElement(const Attributes &attributes);

    const QString &m_text;
    const ushort *m_s;
    const int m_n;
    const QString m_host;
    Reading m_reading;

    bool m_hasBody = false;
    Collector m_heading; // the host's notice heading
    Collector m_message; // its short "unavailable" page
    bool m_titleRead = false;
    QString m_metaTitle;

    struct
    {
        bool open = false;
        QString address;
        QString raw;
        Span textvalue;
        Span alt;
    } m_anchor;
    QSet<QString> m_linked;
    bool m_moreLinks = false;
    QSet<QString> m_clips;
    bool m_moreClips = false;
    int m_badIds = 0;
    QString m_firstBadId;
};

bool Reader::is(Span span, const char *lowerCase) const
{
    int i = span.from;
    for (; *lowerCase && i < span.to; ++i, ++lowerCase) {
        if (lower(m_s[i]) != ushort(uchar(*lowerCase)))
            return false;
    }
    return !*lowerCase && i == span.to;
}

bool Reader::hasClass(Span classes, const char *name) const
{
    for (int i = classes.from; i < classes.to;) {
        while (i < classes.to && isSpace(m_s[i]))
            ++i;
        const int from = i;
        while (i < classes.to && !isSpace(m_s[i]))
            ++i;
        if (i > from && is({from, i}, name))
            return true;
    }
    return false;
}

Span Reader::tagName(int from) const
{
    int i = from;
    while (i < m_n && !isSpace(m_s[i]) && m_s[i] != '/' && m_s[i] != '>')
        ++i;
    return {from, i};
}

Element Reader::elementOf(Span name) const
{
    if (is(name, "a"))
        return Element::Anchor;
    if (is(name, "img"))
        return Element::Image;
    if (is(name, "mpvoice") || is(name, "mp-common-mpaudio"))
        return Element::Voice;
    if (is(name, "meta"))
        return Element::Meta;
    if (is(name, "title"))
        return Element::Title;
    // Their content is text, whatever it looks like.
    for (const char *raw : {"script", "style", "textarea", "xmp", "noembed", "noframes", "iframe"}) {
        if (is(name, raw))
            return Element::RawText;
    }
    return Element::Other;
}

void Reader::note(Span name, Span value, Attributes *found) const
{
    const std::pair<const char *, Span Attributes::*> wanted[] = {
        {"id", &Attributes::id},         {"class", &Attributes::klass},
        {"href", &Attributes::href},     {"textvalue", &Attributes::textvalue},
        {"alt", &Attributes::alt},       {"name", &Attributes::name},
        {"voice_encode_fileid", &Attributes::fileId}, {"property", &Attributes::property},
        {"content", &Attributes::content},
    };
    for (const auto &[attribute, member] : wanted) {
        if (is(name, attribute)) {
            if (!(found->*member).found())
                found->*member = value;
            return;
        }
    }
}

// Walks a start tag's attributes from `from` as a browser does, so that a
// ">" inside a quoted value does not end the tag. Returns where the tag
// ends (its ">"), or -1 when the page ends first.
int Reader::walkAttributes(int from, Attributes *found) const
{
    int i = from;
    for (;;) {
        while (i < m_n && (isSpace(m_s[i]) || m_s[i] == '/'))
            ++i;
        if (i >= m_n)
            return -1;
        if (m_s[i] == '>')
            return i;
        const int nameFrom = i++;
        while (i < m_n && !isSpace(m_s[i]) && m_s[i] != '/' && m_s[i] != '>' && m_s[i] != '=')
            ++i;
        const Span name{nameFrom, i};
        while (i < m_n && isSpace(m_s[i]))
            ++i;
        Span value{i, i};
        if (i < m_n && m_s[i] == '=') {
            ++i;
            while (i < m_n && isSpace(m_s[i]))
                ++i;
            if (i < m_n && (m_s[i] == '"' || m_s[i] == '\'')) {
                const int close = m_text.indexOf(QChar(m_s[i]), i + 1);
                if (close < 0)
                    return -1;
                value = {i + 1, close};
                i = close + 1;
            } else {
                value.from = i;
                while (i < m_n && !isSpace(m_s[i]) && m_s[i] != '>')
                    ++i;
                value.to = i;
            }
        }
        note(name, value, found);
    }
}

// Where what starts with "<!" or "<?" at lt ends.
int Reader::skipComment(int lt) const
{
    const bool comment = lt + 3 < m_n && m_s[lt + 1] == '!' && m_s[lt + 2] == '-' && m_s[lt + 3] == '-';
    for (int from = lt + (comment ? 4 : 2);;) {
        const int gt = m_text.indexOf(QLatin1Char('>'), from);
        if (gt < 0)
            return m_n;
        if (!comment || (m_s[gt - 1] == '-' && m_s[gt - 2] == '-'))
            return gt + 1;
        from = gt + 1;
    }
}

// The "<" of the end tag of this element, or -1.
int Reader::findEndTag(int from, Span name) const
{
    const int length = name.to - name.from;
    for (int at = from;;) {
        const int lt = m_text.indexOf(QLatin1Char('<'), at);
        if (lt < 0 || lt + 2 + length > m_n)
            return -1;
        at = lt + 1;
        if (m_s[lt + 1] != '/')
            continue;
        int i = 0;
        while (i < length && lower(m_s[lt + 2 + i]) == lower(m_s[name.from + i]))
            ++i;
        const int after = lt + 2 + length;
        if (i == length && (after == m_n || isSpace(m_s[after]) || m_s[after] == '/' || m_s[after] == '>'))
            return lt;
    }
}

Reading Reader::read(const QUrl &address)
{
    int i = 0;
    while (i < m_n) {
        const int lt = m_text.indexOf(QLatin1Char('<'), i);
        text(i, lt < 0 ? m_n : lt);
        if (lt < 0 || lt + 1 >= m_n)
            break;
        const ushort next = m_s[lt + 1];
        if (next == '!' || next == '?') {
            i = skipComment(lt);
        } else if (next == '/') {
            const Span name = tagName(lt + 2);
            const int gt = m_text.indexOf(QLatin1Char('>'), name.to);
            if (gt < 0)
                break;
            if (name.to > name.from && isLetter(m_s[name.from]))
                endTag(name);
            i = gt + 1;
        } else if (!isLetter(next)) {
            text(lt, lt + 1); // a lone "<" is text
            i = lt + 1;
        } else {
            const Span name = tagName(lt + 1);
            Attributes attributes;
            const int gt = walkAttributes(name.to, &attributes);
            if (gt < 0)
                break; // the page ends inside a tag
            i = gt + 1;
            const Element element = elementOf(name);
            startTag(name, element, attributes);
            if (element == Element::RawText || element == Element::Title) {
                const int close = findEndTag(i, name);
                if (element == Element::Title && !m_titleRead) {
                    m_titleRead = true;
                    m_reading.title = close < 0 ? QString() : shown(value({i, close}));
                }
                const int end = close < 0 ? -1 : m_text.indexOf(QLatin1Char('>'), close);
                if (end < 0)
                    break;
                i = end + 1;
            }
        }
    }
    closeAnchor();

    if (!m_metaTitle.isEmpty())
        m_reading.title = m_metaTitle;
    if (!m_hasBody) {
        const auto collected = [](const Collector &c) { return c.text.isEmpty() ? shown(c.raw) : c.text; };
        if (address.path().startsWith(QLatin1String("/mp/wappoc_appmsgcaptcha"))
            || m_text.contains(QLatin1String("secitptpage/verify")))
            m_reading.notice = translated("需要验证");
        else if (!collected(m_heading).isEmpty())
            m_reading.notice = collected(m_heading);
        else
            m_reading.notice = collected(m_message);
    }

    if (m_badIds > 0)
        m_reading.voiceWarnings.append(
            QStringLiteral("skipped %1 voice element(s) whose identifier cannot be part of an address, the first: \"%2\"")
                .arg(m_badIds)
                .arg(m_firstBadId));
    if (m_moreClips)
        m_reading.voiceWarnings.append(
            QStringLiteral("more than %1 voice clips on the page: only the first %1 are listed").arg(kMostEntries));
    if (m_moreLinks)
        m_reading.linkWarnings.append(
            QStringLiteral("more than %1 article links on the page: only the first %1 are listed").arg(kMostEntries));
    return m_reading;
}

void Reader::keep(QString &raw, int from, int to) const
{
    if (raw.size() < kMostKept)
        raw.append(m_text.constData() + from, qMin(to - from, kMostKept - int(raw.size())));
}

void Reader::text(int from, int to)
{
    if (from >= to)
        return;
    if (m_anchor.open)
        keep(m_anchor.raw, from, to);
    for (Collector *collector : {&m_heading, &m_message}) {
        if (!collector->tag.isEmpty())
            keep(collector->raw, from, to);
    }
}

// Starts collecting an element's text if it is of this class and nothing
// has been collected yet. The host's notices hold no element of the same
// name inside, so its next end tag ends it.
void Reader::collect(Collector &collector, Span name, Span classes, const char *className)
{
    if (collector.tag.isEmpty() && collector.text.isEmpty() && classes.found() && hasClass(classes, className)) {
        collector.tag = value(name).toLower();
        collector.raw.clear();
    }
}

void Reader::startTag(Span name, Element element, const Attributes &attributes)
{
    if (attributes.id.found() && (is(attributes.id, "js_content") || is(attributes.id, "js_article")))
        m_hasBody = true;
    collect(m_heading, name, attributes.klass, "weui-msg__title");
    collect(m_message, name, attributes.klass, "mesg-block");

    switch (element) {
    case Element::Anchor:
        closeAnchor(); // anchors do not nest: a new one ends the last
        openAnchor(attributes);
        break;
    case Element::Image:
        if (m_anchor.open && !m_anchor.alt.found())
            m_anchor.alt = attributes.alt;
        break;
    case Element::Voice:
        voiceElement(attributes);
        break;
    case Element::Meta:
        if (m_metaTitle.isEmpty() && attributes.content.found()
            && ((attributes.property.found() && is(attributes.property, "og:title"))
                || (attributes.name.found() && is(attributes.name, "og:title"))))
            m_metaTitle = shown(value(attributes.content));
        break;
    default:
        break;
    }
}

void Reader::endTag(Span name)
{
    if (is(name, "a"))
        closeAnchor();
    for (Collector *collector : {&m_heading, &m_message}) {
        if (collector->tag.isEmpty() || value(name).toLower() != collector->tag)
            continue;
        collector->text = shown(collector->raw);
        collector->tag.clear();
    }
}

// An article address on the article host: http or https, path /s/... or
// /s?...
bool Reader::isArticle(const QString &href) const
{
    const QUrl url(href, QUrl::TolerantMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return false;
    const QString path = url.path();
    return hostAndPort(url) == m_host
        && ((path.startsWith(QLatin1String("/s/")) && path.size() > 3) || (path == QLatin1String("/s") && url.hasQuery()));
}

void Reader::openAnchor(const Attributes &attributes)
{
    if (!attributes.href.found())
        return;
    const QString href = decodeEntities(value(attributes.href)).trimmed();
    const int hash = href.indexOf(QLatin1Char('#'));
    const QString address = hash < 0 ? href : href.left(hash);
    // Only the first anchor to an article names it; past the bound only a
    // new web address counts, and is not looked at closely.
    if (m_linked.contains(address))
        return;
    if (m_reading.links.size() >= kMostEntries) {
        m_moreLinks = m_moreLinks || href.startsWith(QLatin1String("http"), Qt::CaseInsensitive);
        return;
    }
    if (!href.startsWith(QLatin1String("http"), Qt::CaseInsensitive) || !isArticle(href))
        return;
    m_anchor.open = true;
    m_anchor.address = address;
    m_anchor.raw.clear();
    m_anchor.textvalue = attributes.textvalue;
    m_anchor.alt = Span();
}

// An image card has no text: its textvalue, its image's alt text, or at
// least its address.
void Reader::closeAnchor()
{
    if (!m_anchor.open)
        return;
    m_anchor.open = false;
    QString title = shown(m_anchor.raw);
    if (title.isEmpty() && m_anchor.textvalue.found())
        title = shown(value(m_anchor.textvalue));
    if (title.isEmpty() && m_anchor.alt.found())
        title = shown(value(m_anchor.alt));
    if (title.isEmpty())
        title = m_anchor.address;
    m_linked.insert(m_anchor.address);
    m_reading.links.append({m_anchor.address, title});
}

void Reader::voiceElement(const Attributes &attributes)
{
    if (!attributes.fileId.found())
        return; // not a clip
    const QString id = decodeEntities(value(attributes.fileId)).trimmed();
    if (!isIdentifier(id)) {
        if (m_badIds++ == 0)
            m_firstBadId = id.left(60);
        return;
    }
    if (m_clips.contains(id))
        return;
    if (m_reading.voices.size() >= kMostEntries) {
        m_moreClips = true;
        return;
    }
    m_clips.insert(id);
    // The host escapes names twice; the article shows them decoded.
    QString name = attributes.name.found() ? shown(decodeEntities(value(attributes.name))) : QString();
    if (name.isEmpty())
        name = translated("音频 %1").arg(m_reading.voices.size() + 1);
    m_reading.voices.append({name, id});
}

} // namespace

QString decodeEntities(const QString &text)
{
    static const QHash<QString, QString> named{
        {QStringLiteral("amp"), QStringLiteral("&")},   {QStringLiteral("lt"), QStringLiteral("<")},
        {QStringLiteral("gt"), QStringLiteral(">")},    {QStringLiteral("quot"), QStringLiteral("\"")},
        {QStringLiteral("apos"), QStringLiteral("'")},  {QStringLiteral("nbsp"), QString(QChar(0xa0))},
        {QStringLiteral("#39"), QStringLiteral("'")},
    };
    if (!text.contains(QLatin1Char('&')))
        return text;
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        // No entity is longer than ten characters: looking no further keeps
        // a run of lone ampersands linear.
        int semicolon = -1;
        for (int j = i + 1; text.at(i) == QLatin1Char('&') && j < qMin(text.size(), i + 12); ++j) {
            if (text.at(j) == QLatin1Char(';')) {
                semicolon = j;
                break;
            }
        }
        if (semicolon < 0) {
            out += text.at(i);
            continue;
        }
        const QString name = text.mid(i + 1, semicolon - i - 1);
        uint code = 0;
        bool numeric = false;
        if (name.startsWith(QLatin1String("#x")) || name.startsWith(QLatin1String("#X")))
            code = name.mid(2).toUInt(&numeric, 16);
        else if (name.startsWith(QLatin1Char('#')))
            code = name.mid(1).toUInt(&numeric, 10);
        if (numeric && code > 0 && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff)) {
            if (QChar::requiresSurrogates(code)) {
                out += QChar(QChar::highSurrogate(code));
                out += QChar(QChar::lowSurrogate(code));
            } else {
                out += QChar(code);
            }
        } else if (named.contains(name)) {
            out += named.value(name);
        } else {
            out += text.at(i);
            continue;
        }
        i = semicolon;
    }
    return out;
}

Reading read(const QString &text, const QString &host, const QUrl &address)
{
    return Reader(text, host).read(address);
}

QString articleTitle(const QString &text)
{
    return read(text, QString(), QUrl()).title;
}

} // namespace PageReader
