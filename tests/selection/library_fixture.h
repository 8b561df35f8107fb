// A test's own library (registry and projects in a temporary folder), the
// store that opened it, and a selection model using that store.
#pragma once

#include "project_store.h"
#include "selection_model.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

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
};

}  // namespace keepframe::testing
