#pragma once

#include <QString>

#include <exception>

namespace QuillomareCore {

// Every error the core throws carries the text a person is shown.
class Error : public std::exception
{
public:
    explicit Error(QString description) : m_description(std::move(description)), m_utf8(m_description.toUtf8()) {}
    const QString& localizedDescription() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

// A value in a JSON record had the wrong type or form; the record as a whole is refused.
class DecodingError final : public Error
{
public:
    using Error::Error;
};

// Creating a folder, writing or moving a file failed; the text names the path and the cause.
class FileSystemError final : public Error
{
public:
    using Error::Error;
};

} // namespace QuillomareCore
