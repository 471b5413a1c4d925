#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>

namespace pugi {
class xml_document;
class xml_node;
} // namespace pugi

namespace KavriVendorEmp::platform {

/// Reading through a node that does not exist: what ends a load.
class XmlError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class XmlNodeList;

/// A node of a loaded document, or nothing.
class XmlNode
{
public:
    XmlNode();
    bool isNull() const;
    /// @throws XmlError on nothing
    XmlNodeList childNodes() const;
    /// The node's whole text content (all text inside it). @throws XmlError on nothing
    QString text() const;

private:
    friend class XmlNodeList;
    friend class XmlDocument;
    explicit XmlNode(const void *node);
    const void *m_node = nullptr; // a pugi::xml_node_struct
};

/// The child nodes of a node, in document order.
class XmlNodeList
{
public:
    /// 0-based; nothing for a position with no node. Walking the positions in order is cheap:
    /// the list remembers where the last call ended.
    XmlNode item(int index) const;

    class const_iterator
    {
    public:
        XmlNode operator*() const;
        const_iterator &operator++();
        bool operator!=(const const_iterator &other) const { return m_node != other.m_node; }

    private:
        friend class XmlNodeList;
        explicit const_iterator(const void *node) : m_node(node) {}
        const void *m_node;
    };
    const_iterator begin() const;
    const_iterator end() const;

private:
    friend class XmlNode;
    explicit XmlNodeList(const void *parent) : m_parent(parent) {}
    const void *m_parent;
    mutable const void *m_cursor = nullptr; // the node item() returned last, with its position
    mutable int m_cursorIndex = -1;
};

/// Synchronous fetch-and-parse of a document from a URL. The calling thread is blocked, and no
/// event of it is processed, until the document is fetched and parsed or the fetch failed.
/// Comments and processing instructions are nodes; whitespace-only text is not; a DOCTYPE is no
/// node. No DTD or external entity is ever fetched, only the predefined and numeric entities are
/// expanded, and a document declaring entities of its own is refused.
class XmlDocument
{
public:
    struct Limits
    {
        std::chrono::milliseconds transferTimeout{30000};
        qint64 maxBytes = 64ll * 1024 * 1024;
    };

    XmlDocument();
    explicit XmlDocument(Limits limits);
    ~XmlDocument();
    Q_DISABLE_COPY(XmlDocument)

    /// Kept for the caller that sets it; load() is synchronous either way.
    bool async() const { return m_async; }
    void setAsync(bool async) { m_async = async; }

    /// Fetches (http and https only; the URL read as HttpTarget reads it) and parses. Returns
    /// false, leaving no root element and saying why in errorString(), when the URL cannot be
    /// fetched (network or TLS error, non-2xx status, the transfer not done within the timeout,
    /// over the size limit, a redirect HttpExchange refuses) or the answer is not well-formed XML
    /// in an encoding it names or implies.
    bool load(const QString &url);
    /// As load(url), with `meanwhile` run on the calling thread while the answer is awaited, so
    /// that work which does not need the document overlaps the transfer. It runs exactly once,
    /// also when no request can be made; when it throws, the transfer is abandoned and the
    /// exception passed on.
    bool load(const QString &url, const std::function<void()> &meanwhile);
    /// Parses a document held in memory, with the same rules as load. The encoding is the one a
    /// byte order mark gives, else the charset of contentType (the answer's Content-Type), else
    /// the XML declaration's; without any of them UTF-8, or UTF-16 or UTF-32 told by the bytes.
    bool loadXml(const QByteArray &bytes, const QByteArray &contentType = QByteArray());

    /// Why the last load or loadXml failed; empty after one that worked.
    QString errorString() const { return m_error; }

    /// The root element, or nothing.
    XmlNode documentElement() const;
    /// Frees a node that has been read, with everything inside it, for a document read once from
    /// start to end: what is made of the node can take its memory. Nodes that name it or anything
    /// inside it, and lists whose item() gave one of them, must not be used afterwards; an
    /// iterator already past it goes on. @throws XmlError on nothing
    void release(const XmlNode &node);

private:
    bool parse(QByteArray bytes, const QByteArray &contentType);

    Limits m_limits;
    bool m_async = true;
    QByteArray m_text; // the bytes the document was parsed in place in; goes after m_doc
    std::unique_ptr<pugi::xml_document> m_doc;
    QString m_error;
};

} // namespace KavriVendorEmp::platform
