#pragma once

#include <extensionsystem/iplugin.h>

#include <memory>

namespace Tidepool::Internal {

class TidepoolPluginPrivate;

class Plugin : public ExtensionSystem::IPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QtCreatorPlugin" FILE "Tidepool.json")

public:
    Plugin();
    ~Plugin() override;

    bool initialize(const QStringList &arguments, QString *errorString) override;

private:
    std::unique_ptr<TidepoolPluginPrivate> d;
};

} // namespace Tidepool::Internal
