// A test with a library of its own: the data folder is a temporary folder set
// through KEEPFRAME_DATA_DIR, and `store` has that library open.
#pragma once

#include "project_store.h"
#include "temp_dir.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <memory>

namespace keepframe::testing {

class RegistryTest : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<ProjectStore> store;

    void SetUp() override {
        qputenv("KEEPFRAME_DATA_DIR", QByteArray::fromStdString(dir.str() + "/data"));
        store = std::make_unique<ProjectStore>();
        ASSERT_TRUE(store->openRegistry());
    }
    void TearDown() override {
        store.reset();
        qunsetenv("KEEPFRAME_DATA_DIR");
    }
};

}  // namespace keepframe::testing
