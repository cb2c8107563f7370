#include "names.h"

#include <QFile>
#include <QListWidgetItem>

namespace {
constexpr int kBytesRole = Qt::UserRole + 1;
}

QString ShownName(const std::string& bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

QListWidgetItem* NameItem(const std::string& bytes) {
    auto* item = new QListWidgetItem(ShownName(bytes));
    item->setData(kBytesRole, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return item;
}

std::string ItemName(const QListWidgetItem& item) {
    const QVariant bytes = item.data(kBytesRole);
    if (bytes.isValid())
        return bytes.toByteArray().toStdString();
    return QFile::encodeName(item.text()).toStdString();
}
