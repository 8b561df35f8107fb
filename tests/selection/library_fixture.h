// A test's own library (registry and projects in a temporary folder), the
// store that opened it, and a selection model using that store.
#pragma once

#include "project_store.h"
#include "selection_model.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QString>
#include <QStringList>

namespace keepframe::testing {

struct LibraryFixture : ::testing::Test {
    TempDir dir;
    ProjectStore store;
    SelectionModel model;
    QString input;  // the shoot: dir + "/shoot"
    int projectId = -1;

    void SetUp() override {
        qputenv("KEEPFRAME_DATA_DIR", QByteArray::fromStdString(dir.str() + "/library"));
        ASSERT_TRUE(store.openRegistry());
        model.setStore(&store);
        input = QString::fromStdString(dir.str() + "/shoot");
    }
    void TearDown() override { qunsetenv("KEEPFRAME_DATA_DIR"); }

    // Every file below `folder` (hidden ones too), relative to it, sorted.
    static QStringList filesBelow(const QString& folder) {
        QStringList out;
        QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) out << QDir(folder).relativeFilePath(it.next());
        out.sort();
        return out;
    }
};

}  // namespace keepframe::testing
