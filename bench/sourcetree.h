#pragma once

// Generated example projects that look like real ones: a CMake project with C++ sources and
// headers, QML files, documentation and some binary assets, about as compressible as real code.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QMap>
#include <QString>

#include <random>

namespace Bench {

class SourceTreeGenerator
{
public:
    explicit SourceTreeGenerator(unsigned seed)
        : m_random(seed)
    {}

    // About `bytes` bytes of files, relative path -> content. About an eighth of the bytes are
    // binary assets that do not compress.
    QMap<QString, QByteArray> tree(const QString &projectName, qint64 bytes)
    {
        QMap<QString, QByteArray> files;
        QStringList sources;
        qint64 total = 0;
        const auto add = [&](const QString &path, const QByteArray &content) {
            files.insert(path, content);
            total += content.size();
        };

        add(QStringLiteral("README.md"), prose(1500));
        add(QStringLiteral("src/main.cpp"), mainSource(projectName));
        add(QStringLiteral("qml/Main.qml"), qmlFile(true));
        add(QStringLiteral("icons/128x128/") + projectName + QStringLiteral(".png"), icon(128));

        static const char *const modules[] = {"core", "model", "view", "network", "storage",
                                              "widgets", "util", "platform"};
        int serial = 0;
        while (total < bytes) {
            const QString module = QString::fromLatin1(modules[pick(std::size(modules))]);
            const QString base = word() + word(true) + QString::number(++serial);
            const int kind = int(pick(100));
            if (kind < 40) {
                const QString path = QStringLiteral("src/%1/%2.cpp").arg(module, base.toLower());
                add(path, cppFile(base, int(between(2000, 20000))));
                sources << path;
            } else if (kind < 65) {
                add(QStringLiteral("src/%1/%2.h").arg(module, base.toLower()),
                    headerFile(base, int(between(800, 8000))));
            } else if (kind < 75) {
                add(QStringLiteral("qml/%1/%2.qml").arg(module, base), qmlFile(false));
            } else if (kind < 80) {
                add(QStringLiteral("docs/%1.md").arg(base.toLower()), prose(int(between(1000, 6000))));
            } else if (kind < 86) {
                add(QStringLiteral("assets/%1/%2.bin").arg(module, base.toLower()),
                    noise(int(between(4000, 40000))));
            } else {
                // Text-like data files compress well and make up the rest.
                add(QStringLiteral("data/%1.json").arg(base.toLower()), jsonFile(int(between(500, 6000))));
            }
        }

        QByteArray cmake = "cmake_minimum_required(VERSION 3.16)\nproject(" + projectName.toUtf8()
                           + " LANGUAGES CXX)\n\nfind_package(Qt6 REQUIRED COMPONENTS Quick)\n\n"
                             "qt_add_executable(app\n    src/main.cpp\n";
        for (const QString &source : std::as_const(sources))
            cmake += "    " + source.toUtf8() + '\n';
        cmake += ")\ntarget_link_libraries(app PRIVATE Qt6::Quick)\n";
        files.insert(QStringLiteral("CMakeLists.txt"), cmake);
        return files;
    }

    // A PNG picture of this size: a gradient with some grain, as avatars and icons are.
    QByteArray icon(int size)
    {
        QImage image(size, size, QImage::Format_ARGB32);
        const QColor from = QColor::fromHsv(int(pick(360)), 160, 220);
        const QColor to = QColor::fromHsv(int(pick(360)), 200, 120);
        for (int y = 0; y < size; ++y) {
            auto line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < size; ++x) {
                const double t = double(x + y) / double(2 * size);
                const int grain = int(pick(12)) - 6;
                const auto mix = [&](int a, int b) {
                    return std::clamp(int(a + (b - a) * t) + grain, 0, 255);
                };
                line[x] = qRgba(mix(from.red(), to.red()), mix(from.green(), to.green()),
                                mix(from.blue(), to.blue()), 255);
            }
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }

private:
    quint64 pick(quint64 count) { return std::uniform_int_distribution<quint64>(0, count - 1)(m_random); }
    qint64 between(qint64 low, qint64 high) { return low + qint64(pick(quint64(high - low))); }

    QString word(bool capital = false)
    {
        static const char *const words[] = {
            "value", "index", "model", "item", "count", "data", "result", "buffer", "node",
            "entry", "state", "handler", "request", "reply", "cache", "view", "layout", "widget",
            "source", "target", "option", "setting", "window", "action", "event", "timer",
            "color", "shape", "path", "file", "record", "field", "column", "row", "size",
            "offset", "length", "channel", "stream", "session", "account", "message", "queue"};
        QString text = QString::fromLatin1(words[pick(std::size(words))]);
        if (capital)
            text[0] = text.at(0).toUpper();
        return text;
    }

    QByteArray prose(int bytes)
    {
        QByteArray text;
        while (text.size() < bytes) {
            const int length = int(between(6, 18));
            QString sentence = word(true);
            for (int i = 1; i < length; ++i)
                sentence += u' ' + word();
            text += sentence.toUtf8() + (pick(4) ? ". " : ".\n\n");
        }
        return text;
    }

    QByteArray cppLine()
    {
        switch (pick(10)) {
        case 0:
            return QStringLiteral("    const auto %1 = %2->%3(%4);").arg(word(), word(), word(), word()).toUtf8();
        case 1:
            return QStringLiteral("    if (%1.isEmpty())\n        return %2;").arg(word(), word()).toUtf8();
        case 2:
            return QStringLiteral("    for (const %1 &%2 : std::as_const(m_%3s))").arg(word(true), word(), word()).toUtf8();
        case 3:
            return QStringLiteral("        %1 += %2.%3() * %4;").arg(word(), word(), word(), QString::number(pick(64))).toUtf8();
        case 4:
            return QStringLiteral("    // %1 %2 %3 the %4 before the %5 is %6.").arg(word(true), word(), word(), word(), word(), word()).toUtf8();
        case 5:
            return QStringLiteral("    emit %1Changed(m_%2);").arg(word(), word()).toUtf8();
        case 6:
            return QStringLiteral("    m_%1 = std::clamp(%2, 0, %3);").arg(word(), word(), QString::number(pick(1000))).toUtf8();
        case 7:
            return QStringLiteral("    qCDebug(%1Log) << \"%2:\" << %3;").arg(word(), word(true), word()).toUtf8();
        case 8:
            return QByteArray("    }");
        default:
            return QStringLiteral("    %1->set%2(%3);").arg(word(), word(true), word()).toUtf8();
        }
    }

    QByteArray cppFile(const QString &className, int bytes)
    {
        QByteArray text = "// Copyright (C) 2024 The Examples Authors\n// SPDX-License-Identifier: BSD-3-Clause\n\n#include \""
                          + className.toLower().toUtf8() + ".h\"\n\n#include <QDebug>\n#include <QList>\n\n";
        while (text.size() < bytes) {
            text += QStringLiteral("\nvoid %1::%2%3(int %4)\n{\n").arg(className, word(), word(true), word()).toUtf8();
            const int lines = int(between(4, 20));
            for (int i = 0; i < lines; ++i)
                text += cppLine() + '\n';
            text += "}\n";
        }
        return text;
    }

    QByteArray headerFile(const QString &className, int bytes)
    {
        QByteArray text = "#pragma once\n\n#include <QObject>\n\nclass " + className.toUtf8()
                          + " : public QObject\n{\n    Q_OBJECT\n\npublic:\n";
        while (text.size() < bytes - 40) {
            text += QStringLiteral("    %1 %2() const;\n    void set%3(const %1 &%2);\n")
                        .arg(word(true), word(), word(true)).toUtf8();
        }
        return text + "};\n";
    }

    QByteArray qmlFile(bool window)
    {
        QByteArray text = "import QtQuick\nimport QtQuick.Controls\n\n";
        text += window ? "ApplicationWindow {\n    visible: true\n    width: 640\n    height: 480\n"
                       : "Item {\n";
        const int items = int(between(3, 12));
        for (int i = 0; i < items; ++i) {
            text += QStringLiteral("    Rectangle {\n        id: %1\n        width: %2\n        color: \"%3\"\n"
                                   "        Text { text: qsTr(\"%4 %5\") }\n    }\n")
                        .arg(word() + QString::number(i), QString::number(pick(400)), word(), word(true), word())
                        .toUtf8();
        }
        return text + "}\n";
    }

    QByteArray jsonFile(int bytes)
    {
        QByteArray text = "[\n";
        while (text.size() < bytes)
            text += QStringLiteral("  {\"%1\": %2, \"%3\": \"%4\"},\n")
                        .arg(word(), QString::number(pick(100000)), word(), word()).toUtf8();
        return text + "  {}\n]\n";
    }

    QByteArray noise(int bytes)
    {
        QByteArray data(bytes, Qt::Uninitialized);
        for (char &c : data)
            c = char(pick(256));
        return data;
    }

    QByteArray mainSource(const QString &projectName)
    {
        return "#include <QGuiApplication>\n#include <QQmlApplicationEngine>\n\n"
               "int main(int argc, char *argv[])\n{\n    QGuiApplication app(argc, argv);\n"
               "    QQmlApplicationEngine engine;\n    engine.loadFromModule(\""
               + projectName.toUtf8() + "\", \"Main\");\n    return app.exec();\n}\n";
    }

    std::mt19937_64 m_random;
};

} // namespace Bench
