#pragma once

// File and folder names are bytes. The windows show them as well as text can, and keep
// the exact bytes beside the text wherever a name is listed, so a name that is not UTF-8
// is opened and refreshed like any other.

#include <QByteArray>
#include <QString>
#include <string>

class QListWidgetItem;
class QVariant;

// The name as the desktop shows file names.
QString ShownName(const std::string& bytes);

// The name's bytes as Qt keeps bytes (in an item's data, say), and back.
QByteArray NameBytes(const std::string& bytes);
std::string NameOf(const QVariant& data);

// A list item that shows the name and keeps its bytes.
QListWidgetItem* NameItem(const std::string& bytes);
// The bytes an item keeps; its text's bytes for an item made otherwise.
std::string ItemName(const QListWidgetItem& item);
