#pragma once

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <gtest/gtest.h>

// The caption of a named control, whatever kind of control carries it.
inline QString controlText(const QObject* root, const QString& name)
{
    QObject* o = root->findChild<QObject*>(name);
    if (auto* a = qobject_cast<QAction*>(o))
        return a->text();
    if (auto* g = qobject_cast<QGroupBox*>(o))
        return g->title();
    if (auto* l = qobject_cast<QLabel*>(o))
        return l->text();
    if (auto* m = qobject_cast<QMenu*>(o))
        return m->title();
    ADD_FAILURE() << "no control " << name.toStdString();
    return {};
}
