#include "names.h"

#include <QFile>
#include <QListWidgetItem>

namespace {
constexpr int kBytesRole = Qt::UserRole + 1;
}

QString ShownName(const std::string& bytes) {
    return QFile::decodeName(NameBytes(bytes));
}

QByteArray NameBytes(const std::string& bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string NameOf(const QVariant& data) {
    return data.toByteArray().toStdString();
}

QListWidgetItem* NameItem(const std::string& bytes) {
    auto* item = new QListWidgetItem(ShownName(bytes));
    item->setData(kBytesRole, NameBytes(bytes));
    return item;
}

std::string ItemName(const QListWidgetItem& item) {
    const QVariant bytes = item.data(kBytesRole);
    if (bytes.isValid())
        return NameOf(bytes);
    return QFile::encodeName(item.text()).toStdString();
}
