#include "platform/XmlDocument.h"

#include "platform/HttpExchange.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <pugixml.hpp>

#include <cstring>
#include <optional>
#include <string>

namespace KavriVendorEmp::platform {

namespace {

pugi::xml_node toNode(const void *p)
{
    return pugi::xml_node(static_cast<pugi::xml_node_struct *>(const_cast<void *>(p)));
}

bool isText(const pugi::xml_node &n)
{
    return n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata;
}

/// The body of a successful (2xx) answer to a GET of the target and its Content-Type; otherwise
/// false with the cause in `error`. Runs on a thread of its own, with its own network manager
/// and event loop, so that the calling thread can simply wait for it: no event of the caller runs
/// meanwhile, as a nested event loop would allow. The caller's `meanwhile` runs while it waits.
bool fetch(const HttpTarget &target, const XmlDocument::Limits &limits,
           const std::function<void()> &meanwhile, QByteArray &body, QByteArray &contentType,
           QString &error)
{
    std::unique_ptr<QThread> worker(QThread::create([&] {
        QNetworkAccessManager manager;
        QNetworkRequest request;
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                             QNetworkRequest::AlwaysNetwork);
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
        HttpExchange exchange(&manager, target, request, false, QByteArray(), limits.maxBytes);

        QEventLoop loop;
        QObject::connect(&exchange, &HttpExchange::finished, &loop, &QEventLoop::quit);
        // A deadline for the whole transfer, redirects included: a transfer timeout restarts
        // with every byte, so a server sending slowly would never meet it.
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &exchange, [&] {
            exchange.abort(QStringLiteral("no complete answer within %1 ms")
                               .arg(qint64(limits.transferTimeout.count())));
        });
        deadline.start(limits.transferTimeout);
        exchange.start();
        if (!exchange.isFinished())
            loop.exec();
        deadline.stop();

        error = exchange.failure();
        body = exchange.body();
        contentType = exchange.contentType();
    }));
    worker->start();
    if (meanwhile) {
        try {
            meanwhile();
        } catch (...) {
            // Ends the transfer's event loop, also one not yet entered.
            worker->quit();
            worker->wait();
            throw;
        }
    }
    worker->wait();
    return error.isEmpty();
}

bool hasByteOrderMark(const QByteArray &b)
{
    return b.startsWith("\xEF\xBB\xBF") || b.startsWith("\xFE\xFF") || b.startsWith("\xFF\xFE") ||
           b.startsWith(QByteArrayView("\0\0\xFE\xFF", 4));
}

// The charset parameter of a Content-Type value, unquoted; empty without one.
QByteArray charsetOf(const QByteArray &contentType)
{
    const QList<QByteArray> parts = contentType.split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray part = parts.at(i).trimmed();
        const qsizetype equals = part.indexOf('=');
        if (equals < 0 || part.left(equals).trimmed().toLower() != "charset")
            continue;
        QByteArray value = part.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return QByteArray();
}

// The encoding named by an XML declaration in an ASCII-compatible encoding; empty without one.
QByteArray declaredEncoding(const QByteArray &bytes)
{
    if (!bytes.startsWith("<?xml"))
        return QByteArray();
    const qsizetype end = bytes.indexOf("?>");
    static const QRegularExpression pattern(
        QStringLiteral(R"(\sencoding\s*=\s*(["'])([A-Za-z0-9._:-]{1,64})\1)"));
    const QRegularExpressionMatch match =
        pattern.match(QString::fromLatin1(bytes.left(end < 0 ? 512 : end)));
    return match.hasMatch() ? match.captured(2).toLatin1() : QByteArray();
}

// The encoding pugixml is to read the bytes in. pugixml knows the UTFs and Latin-1; a document in
// any other encoding is converted to UTF-8 here first. Nothing (with the cause in `error`) for an
// encoding no decoder knows or bytes that are not valid in theirs: better no list than names
// shown corrupted.
std::optional<pugi::xml_encoding> readableEncoding(QByteArray &bytes, const QByteArray &contentType,
                                                   QString &error)
{
    if (hasByteOrderMark(bytes))
        return pugi::encoding_auto;
    QByteArray label = charsetOf(contentType);
    if (label.isEmpty())
        label = declaredEncoding(bytes);
    const QByteArray name = label.toLower();
    if (name.isEmpty() || name == "utf-16" || name == "utf-32")
        return pugi::encoding_auto; // pugixml tells these by the first characters
    if (name == "utf-8" || name == "utf8")
        return pugi::encoding_utf8;
    if (name == "utf-16le")
        return pugi::encoding_utf16_le;
    if (name == "utf-16be")
        return pugi::encoding_utf16_be;
    if (name == "utf-32le")
        return pugi::encoding_utf32_le;
    if (name == "utf-32be")
        return pugi::encoding_utf32_be;
    if (name == "iso-8859-1" || name == "latin1")
        return pugi::encoding_latin1;

    QStringDecoder decoder(label.constData());
    if (!decoder.isValid()) {
        error = QStringLiteral("unknown document encoding \"%1\"").arg(QString::fromLatin1(label));
        return std::nullopt;
    }
    const QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        error = QStringLiteral("the document is not valid %1").arg(QString::fromLatin1(label));
        return std::nullopt;
    }
    bytes = text.toUtf8();
    return pugi::encoding_utf8;
}

/// What the parser lets through but XML forbids at the top: more than one root element, text
/// outside it; and a DOCTYPE that declares entities, which are never expanded, so the document
/// could not be read as meant. The DOCTYPE itself is not kept as a node.
bool acceptTopLevel(pugi::xml_document &doc)
{
    int elements = 0;
    for (pugi::xml_node n = doc.first_child(); n;) {
        const pugi::xml_node next = n.next_sibling();
        switch (n.type()) {
        case pugi::node_element:
            ++elements;
            break;
        case pugi::node_pcdata:
        case pugi::node_cdata:
            return false;
        case pugi::node_doctype:
            if (elements > 0 || std::strstr(n.value(), "<!ENTITY"))
                return false;
            doc.remove_child(n);
            break;
        default:
            break;
        }
        n = next;
    }
    return elements == 1;
}

} // namespace

XmlNode::XmlNode() = default;

XmlNode::XmlNode(const void *node) : m_node(node) {}

bool XmlNode::isNull() const
{
    return m_node == nullptr;
}

XmlNodeList XmlNode::childNodes() const
{
    if (!m_node)
        throw XmlError("reading the child nodes of a missing node");
    return XmlNodeList(m_node);
}

QString XmlNode::text() const
{
    if (!m_node)
        throw XmlError("reading the text of a missing node");
    const pugi::xml_node node = toNode(m_node);
    if (node.type() != pugi::node_element && node.type() != pugi::node_document)
        return QString::fromUtf8(node.value());

    std::string text;
    for (pugi::xml_node n = node.first_child(); n;) {
        if (isText(n))
            text += n.value();
        if (n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n != node && !n.next_sibling())
            n = n.parent();
        if (n == node)
            break;
        n = n.next_sibling();
    }
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

XmlNode XmlNodeList::item(int index) const
{
    if (index < 0)
        return XmlNode();
    pugi::xml_node n;
    int position = 0;
    if (m_cursor && index >= m_cursorIndex) {
        n = toNode(m_cursor);
        position = m_cursorIndex;
    } else if (m_cursor && index == m_cursorIndex - 1) {
        n = toNode(m_cursor).previous_sibling();
        position = index;
    } else {
        n = toNode(m_parent).first_child();
    }
    for (; n && position < index; ++position)
        n = n.next_sibling();
    if (!n)
        return XmlNode();
    m_cursor = n.internal_object();
    m_cursorIndex = index;
    return XmlNode(m_cursor);
}

XmlNode XmlNodeList::const_iterator::operator*() const
{
    return XmlNode(m_node);
}

XmlNodeList::const_iterator &XmlNodeList::const_iterator::operator++()
{
    m_node = toNode(m_node).next_sibling().internal_object();
    return *this;
}

XmlNodeList::const_iterator XmlNodeList::begin() const
{
    return const_iterator(toNode(m_parent).first_child().internal_object());
}

XmlNodeList::const_iterator XmlNodeList::end() const
{
    return const_iterator(nullptr);
}

XmlDocument::XmlDocument() : XmlDocument(Limits{}) {}

XmlDocument::XmlDocument(Limits limits) : m_limits(limits) {}

XmlDocument::~XmlDocument() = default;

bool XmlDocument::load(const QString &url)
{
    return load(url, {});
}

bool XmlDocument::load(const QString &url, const std::function<void()> &meanwhile)
{
    m_doc.reset();
    m_text.clear();
    const HttpTarget target(url);
    if (!target.isValid()) {
        if (meanwhile)
            meanwhile();
        m_error = target.error;
        return false;
    }
    QByteArray body;
    QByteArray contentType;
    if (!fetch(target, m_limits, meanwhile, body, contentType, m_error))
        return false;
    if (parse(std::move(body), contentType))
        return true;
    m_error = target.shown + QStringLiteral(": ") + m_error;
    return false;
}

bool XmlDocument::loadXml(const QByteArray &bytes, const QByteArray &contentType)
{
    return parse(bytes, contentType);
}

bool XmlDocument::parse(QByteArray bytes, const QByteArray &contentType)
{
    m_doc.reset();
    m_text.clear();
    m_error.clear();
    const std::optional<pugi::xml_encoding> encoding =
        readableEncoding(bytes, contentType, m_error);
    if (!encoding)
        return false;
    auto doc = std::make_unique<pugi::xml_document>();
    // Whitespace-only text is dropped (no parse_ws_pcdata). The DOCTYPE is parsed only to be
    // inspected, and the fragment mode keeps text outside the root, which only so can be
    // refused.
    constexpr unsigned options = pugi::parse_default | pugi::parse_comments | pugi::parse_pi |
                                 pugi::parse_doctype | pugi::parse_fragment;
    // Parsed where the bytes are, rather than in a copy: the document's names and texts then
    // point into them, so they live as long as it.
    const size_t size = size_t(bytes.size());
    const pugi::xml_parse_result result =
        size == 0 ? doc->load_buffer("", 0, options, *encoding)
                  : doc->load_buffer_inplace(bytes.data(), size, options, *encoding);
    if (!result) {
        m_error = QStringLiteral("not well-formed XML at byte %1: %2")
                      .arg(qint64(result.offset))
                      .arg(QString::fromLatin1(result.description()));
        return false;
    }
    if (!acceptTopLevel(*doc)) {
        m_error = QStringLiteral("not one XML document");
        return false;
    }
    m_doc = std::move(doc);
    m_text = std::move(bytes);
    return true;
}

XmlNode XmlDocument::documentElement() const
{
    if (!m_doc)
        return XmlNode();
    const pugi::xml_node root = m_doc->document_element();
    return root ? XmlNode(root.internal_object()) : XmlNode();
}

void XmlDocument::release(const XmlNode &node)
{
    if (!node.m_node)
        throw XmlError("releasing a missing node");
    // pugixml gives a page of nodes back to the heap once every node on it is gone.
    const pugi::xml_node n = toNode(node.m_node);
    n.parent().remove_child(n);
}

} // namespace KavriVendorEmp::platform
