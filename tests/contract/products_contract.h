#pragma once

// The installed-product contract (ExecQuery, Name, UnInstall) as typed tests,
// run against every implementation of ManagementService. Instantiate with a
// traits type T, constructed afresh for each test, that has:
//   ManagementService& Service();
//   static std::vector<std::u16string> TestProducts();  // two names Install knows
//   void Install(const std::u16string& name);
//   // Whether anything of the product is left: the installer's record, its
//   // program folder or its uninstall entry.
//   bool LeftOnMachine(const std::u16string& name);
// The traits remove the products a test left installed when destroyed.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/management.h"

namespace clearstrand::contract {

inline constexpr char16_t kCimv2[] = u"winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\cimv2";
inline constexpr char16_t kProductQuery[] = u"SELECT * FROM Win32_Product";

template <typename T>
class ProductsContract : public ::testing::Test {
protected:
    ProductCollection Query() { return traits.Service().GetServices(kCimv2)->ExecQuery(kProductQuery); }

    static size_t CountNamed(const ProductCollection& products, const std::u16string& name) {
        return static_cast<size_t>(std::count_if(products.begin(), products.end(),
                                                 [&](const auto& p) { return p->Name() == name; }));
    }

    static InstalledProduct* Named(const ProductCollection& products, const std::u16string& name) {
        for (const auto& p : products) {
            if (p->Name() == name) return p.get();
        }
        return nullptr;
    }

    T traits;
    const std::vector<std::u16string> names = T::TestProducts();
};

TYPED_TEST_SUITE_P(ProductsContract);

TYPED_TEST_P(ProductsContract, QueryListsEachInstalledProductOnceByName) {
    ASSERT_EQ(this->names.size(), 2u);
    auto before = this->Query();
    EXPECT_EQ(this->CountNamed(before, this->names[0]), 0u);
    EXPECT_EQ(this->CountNamed(before, this->names[1]), 0u);

    this->traits.Install(this->names[0]);
    this->traits.Install(this->names[1]);
    auto after = this->Query();
    EXPECT_EQ(this->CountNamed(after, this->names[0]), 1u);
    EXPECT_EQ(this->CountNamed(after, this->names[1]), 1u);
    EXPECT_EQ(after.size(), before.size() + 2);
}

TYPED_TEST_P(ProductsContract, UnInstallRemovesJustThatProduct) {
    this->traits.Install(this->names[0]);
    this->traits.Install(this->names[1]);
    ASSERT_TRUE(this->traits.LeftOnMachine(this->names[0]));

    auto products = this->Query();
    InstalledProduct* first = this->Named(products, this->names[0]);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->UnInstall(), 0);

    EXPECT_FALSE(this->traits.LeftOnMachine(this->names[0]));
    EXPECT_TRUE(this->traits.LeftOnMachine(this->names[1]));
    auto next = this->Query();
    EXPECT_EQ(this->CountNamed(next, this->names[0]), 0u);
    EXPECT_EQ(this->CountNamed(next, this->names[1]), 1u);
}

// A product object outlives its product: the second removal reports the
// installer's "unknown product" (1605) as a code, not as a failure.
TYPED_TEST_P(ProductsContract, UnInstallOfAProductAlreadyGoneGivesItsCode) {
    this->traits.Install(this->names[1]);
    auto first = this->Query();
    auto second = this->Query();
    InstalledProduct* a = this->Named(first, this->names[1]);
    InstalledProduct* b = this->Named(second, this->names[1]);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);

    EXPECT_EQ(a->UnInstall(), 0);
    EXPECT_EQ(b->UnInstall(), 1605);
    EXPECT_EQ(b->Name(), this->names[1]);  // the snapshot keeps its name
}

TYPED_TEST_P(ProductsContract, OnlyTheProductQueryIsServed) {
    auto services = this->traits.Service().GetServices(kCimv2);
    for (const char16_t* query : {u"", u"SELECT * FROM Win32_Service", u"SELECT Name FROM Win32_Product",
                                  u"SELECT * FROM Win32_Product WHERE Name = 'x'"}) {
        SCOPED_TRACE(ToUtf8(query));
        EXPECT_THROW(services->ExecQuery(query), PlatformError);
    }
}

TYPED_TEST_P(ProductsContract, OtherMonikersRaise) {
    for (const char16_t* moniker :
         {u"", u"winmgmts:{impersonationLevel=Impersonate}!\\\\.\\root\\default:StdRegProv",
          u"winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\default",
          u"winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\cimv2:Win32_Product",
          u"winmgmts:{impersonationLevel=impersonate}!\\\\remote\\root\\cimv2", u"root\\cimv2"}) {
        SCOPED_TRACE(ToUtf8(moniker));
        EXPECT_THROW(this->traits.Service().GetServices(moniker), PlatformError);
    }
}

REGISTER_TYPED_TEST_SUITE_P(ProductsContract, QueryListsEachInstalledProductOnceByName,
                            UnInstallRemovesJustThatProduct, UnInstallOfAProductAlreadyGoneGivesItsCode,
                            OnlyTheProductQueryIsServed, OtherMonikersRaise);

}  // namespace clearstrand::contract
