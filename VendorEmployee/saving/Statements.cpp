#include "saving/Statements.h"

#include "saving/UrlEncode.h"

#include <QStringBuilder>

#include <stdexcept>

namespace KavriVendorEmp::Statements {

namespace {

void requirePlainInteger(const QString &employeeID)
{
    if (!isPlainInteger(employeeID))
        throw std::invalid_argument("employee ID is not a plain integer: " +
                                    employeeID.toStdString());
}

} // namespace

bool isPlainInteger(QStringView text)
{
    if (text.startsWith(QLatin1Char('-')))
        text = text.sliced(1);
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

QString insertLink(std::int32_t vendorID, const QString &employeeID)
{
    requirePlainInteger(employeeID);
    // Literals made at compile time: a commit makes one statement per linked row, each then
    // only copied together.
    return QStringLiteral("INSERT INTO VendorEmployeeCrossReference "
                          "(VendorID,EmployeeID,RecordLastUpdated) VALUES (") %
           QString::number(vendorID) % u',' % employeeID % QStringLiteral(",GETDATE()) ");
}

QString deleteLinks(std::int32_t vendorID, const QStringList &employeeIDs)
{
    if (employeeIDs.isEmpty())
        throw std::invalid_argument("a delete needs at least one employee ID");
    qsizetype idChars = 0;
    for (const QString &id : employeeIDs) {
        requirePlainInteger(id);
        idChars += id.size() + 1;
    }
    QString statement = QLatin1String("DELETE FROM VendorEmployeeCrossReference WHERE VendorID=") %
                        QString::number(vendorID) % QLatin1String(" AND EmployeeID IN(");
    statement.reserve(statement.size() + idChars + 1);
    for (const QString &id : employeeIDs)
        statement += id % QLatin1Char(',');
    statement.back() = QLatin1Char(')'); // the last "," closes the list
    return statement;
}

QByteArray postBody(const QStringList &statements)
{
    // Most statement characters pass through; the escapes of the rest, and the encoder's own
    // working room for the longest statement, are reserved once.
    qsizetype chars = 0;
    qsizetype longest = 0;
    for (const QString &statement : statements) {
        chars += statement.size();
        longest = qMax(longest, statement.size());
    }
    QByteArray body;
    body.reserve(chars + chars / 2 + 5 * statements.size() + 9 * longest);
    for (const QString &statement : statements) {
        body += "SQL=";
        appendFormUrlEncoded(body, statement);
        body += '&';
    }
    return body;
}

} // namespace KavriVendorEmp::Statements
