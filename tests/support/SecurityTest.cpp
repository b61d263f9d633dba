#include "OsVersion.h"
#include "SecurityEveryone.h"

#include "SupportTestHelpers.h"

#include <gtest/gtest.h>

TEST(SecurityEveryone, EveryoneGetsWhatEachKindNeedsAndAdministratorsTheRest) {
    struct Case {
        SharedObject kind;
        ACCESS_MASK everyone;
        ACCESS_MASK full;
    };
    for (const Case& kind : {Case{SharedObject::Key, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, KEY_ALL_ACCESS},
                             Case{SharedObject::Mutex, SYNCHRONIZE | MUTEX_MODIFY_STATE, MUTEX_ALL_ACCESS},
                             Case{SharedObject::File, GENERIC_ALL, GENERIC_ALL}}) {
        for (bool inherit : {true, false}) {
            SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(kind.kind) << (inherit ? ", inherited" : ""));
            SecurityEveryone security(inherit, kind.kind);
            EXPECT_TRUE(security.isNt());
            SECURITY_ATTRIBUTES* attributes = security.getAttributes();
            ASSERT_NE(nullptr, attributes);
            // The record holds a pointer: 12 bytes on x86, 24 on x64.
            EXPECT_EQ(sizeof(void*) == 8 ? 24u : 12u, attributes->nLength);
            EXPECT_EQ(1, attributes->bInheritHandle);
            ASSERT_NE(nullptr, attributes->lpSecurityDescriptor);
            EXPECT_TRUE(IsValidSecurityDescriptor(attributes->lpSecurityDescriptor)) << GetLastError();

            BOOL present = FALSE;
            BOOL defaulted = TRUE;
            PACL dacl = nullptr;
            ASSERT_TRUE(GetSecurityDescriptorDacl(attributes->lpSecurityDescriptor, &present, &dacl, &defaulted))
                << GetLastError();
            EXPECT_TRUE(present);
            EXPECT_FALSE(defaulted);
            ASSERT_NE(nullptr, dacl);
            // Header and three allowed entries with the SIDs of Everyone (12 bytes), SYSTEM (12) and
            // Administrators (16), nothing spare.
            EXPECT_EQ(8 + 3 * 8 + 12 + 12 + 16, dacl->AclSize);
            expectSharedRights(acesOf(dacl), kind.everyone, kind.full, inherit ? CONTAINER_INHERIT_ACE : 0);
        }
    }
}

TEST(OsVersion, ReportsNtWithTheExtendedRecordOfTheBuildWidth) {
    const OsVersion& version = OsVersion::instance();
    EXPECT_TRUE(version.isNt()) << version.record().dwPlatformId;
    EXPECT_GT(version.record().dwMajorVersion, 4u);
    // The extended record replaced the basic one: its size is the build width's.
#ifdef UNICODE
    EXPECT_EQ(284u, version.record().dwOSVersionInfoSize);
#else
    EXPECT_EQ(156u, version.record().dwOSVersionInfoSize);
#endif
}
