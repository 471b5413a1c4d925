#include "platform/XmlDocument.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <pugixml.hpp>

#include <cstring>
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

/// The body of a successful (2xx) answer to a GET of url, or nothing. Runs on a thread of its
/// own, with its own network manager and event loop, so that the calling thread can simply
/// wait for it: no event of the caller runs meanwhile, as a nested event loop would allow.
bool fetch(const QUrl &url, const XmlDocument::Limits &limits, QByteArray &body)
{
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;

    bool ok = false;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        QNetworkAccessManager manager;
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::SameOriginRedirectPolicy);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                             QNetworkRequest::AlwaysNetwork);
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

        QNetworkReply *reply = manager.get(request);
        bool refused = false;
        const auto refuse = [&] {
            refused = true;
            reply->abort();
        };

        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QObject::connect(reply, &QNetworkReply::metaDataChanged, [&] {
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            if (length.isValid() && length.toLongLong() > limits.maxBytes)
                refuse();
        });
        // Read as it arrives, so that the count is known at every step and the size limit
        // stops a transfer that has no announced length.
        QObject::connect(reply, &QNetworkReply::readyRead, [&] {
            body += reply->readAll();
            if (body.size() > limits.maxBytes)
                refuse();
        });
        // A deadline for the whole transfer: the request's own transfer timeout restarts with
        // every byte, so a server sending slowly would never meet it.
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, reply, refuse);
        deadline.start(limits.transferTimeout);

        if (!reply->isFinished())
            loop.exec();
        deadline.stop();

        if (!refused && reply->error() == QNetworkReply::NoError) {
            body += reply->readAll();
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            ok = status >= 200 && status <= 299 && body.size() <= limits.maxBytes;
        }
        delete reply;
    }));
    worker->start();
    worker->wait();
    if (!ok)
        body.clear();
    return ok;
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
    m_doc.reset();
    QByteArray body;
    if (!fetch(QUrl(url), m_limits, body))
        return false;
    return loadXml(body);
}

bool XmlDocument::loadXml(const QByteArray &bytes)
{
    auto doc = std::make_unique<pugi::xml_document>();
    // Whitespace-only text is dropped (no parse_ws_pcdata). The DOCTYPE is parsed only to be
    // inspected, and the fragment mode keeps text outside the root, which only so can be
    // refused.
    constexpr unsigned options = pugi::parse_default | pugi::parse_comments | pugi::parse_pi |
                                 pugi::parse_doctype | pugi::parse_fragment;
    const pugi::xml_parse_result result =
        doc->load_buffer(bytes.constData(), size_t(bytes.size()), options, pugi::encoding_auto);
    if (!result || !acceptTopLevel(*doc)) {
        m_doc.reset();
        return false;
    }
    m_doc = std::move(doc);
    return true;
}

XmlNode XmlDocument::documentElement() const
{
    if (!m_doc)
        return XmlNode();
    const pugi::xml_node root = m_doc->document_element();
    return root ? XmlNode(root.internal_object()) : XmlNode();
}

} // namespace KavriVendorEmp::platform
