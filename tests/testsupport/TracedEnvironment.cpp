#include "TracedEnvironment.h"

using namespace Qt::StringLiterals;

QProcessEnvironment tracedEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString options = environment.value(u"ASAN_OPTIONS"_s);
    environment.insert(u"ASAN_OPTIONS"_s, options + (options.isEmpty() ? u""_s : u":"_s) + u"detect_leaks=0"_s);
    return environment;
}
