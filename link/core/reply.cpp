#include "reply.h"

#include <QtGlobal>

namespace ombrix {

QString versionText(const QByteArray &block, int n)
{
    const qsizetype end = qMin(qsizetype(qMax(n, 0)), block.size());
    if (end <= 1)
        return {};
    return QString::fromLatin1(block.constData() + 1, end - 1);
}

} // namespace ombrix
