#include <extensionsystem/iplugin.h>

namespace ExtensionSystem {
namespace Internal {

class IPluginPrivate
{
public:
    QList<TestCreator> testCreators;
};

} // namespace Internal

IPlugin::IPlugin()
    : d(new Internal::IPluginPrivate)
{}

IPlugin::~IPlugin()
{
    delete d;
    d = nullptr;
}

bool IPlugin::initialize(const QStringList &arguments, QString *errorString)
{
    Q_UNUSED(arguments)
    Q_UNUSED(errorString)
    initialize();
    return true;
}

QList<QObject *> IPlugin::createTestObjects() const
{
    QList<QObject *> objects;
    for (const TestCreator &creator : std::as_const(d->testCreators))
        objects.append(creator());
    return objects;
}

void IPlugin::addTestCreator(const TestCreator &creator)
{
    d->testCreators.append(creator);
}

} // namespace ExtensionSystem
