#include "platform/XmlDocument.h"

#include <pugixml.hpp>

namespace KavriVendorEmp::platform {

// Not built yet: the document component arrives with the loading work.
XmlNode::XmlNode() = default;
XmlNode::XmlNode(const void *node) : m_node(node) {}
bool XmlNode::isNull() const
{
    return m_node == nullptr;
}
XmlNodeList XmlNode::childNodes() const
{
    throw XmlError("no node");
}
QString XmlNode::text() const
{
    throw XmlError("no node");
}
XmlNode XmlNodeList::item(int) const
{
    return XmlNode();
}
XmlNode XmlNodeList::const_iterator::operator*() const
{
    return XmlNode(m_node);
}
XmlNodeList::const_iterator &XmlNodeList::const_iterator::operator++()
{
    m_node = nullptr;
    return *this;
}
XmlNodeList::const_iterator XmlNodeList::begin() const
{
    return const_iterator(nullptr);
}
XmlNodeList::const_iterator XmlNodeList::end() const
{
    return const_iterator(nullptr);
}

XmlDocument::XmlDocument() : XmlDocument(Limits{}) {}
XmlDocument::XmlDocument(Limits limits) : m_limits(limits) {}
XmlDocument::~XmlDocument() = default;
bool XmlDocument::load(const QString &)
{
    return false;
}
bool XmlDocument::loadXml(const QByteArray &)
{
    return false;
}
XmlNode XmlDocument::documentElement() const
{
    return XmlNode();
}

} // namespace KavriVendorEmp::platform
