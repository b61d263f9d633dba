#include "OsVersion.h"
#include "SecurityEveryone.h"

#include "SupportTestHelpers.h"

#include <gtest/gtest.h>

TEST(SecurityEveryone, AttributesGrantEveryoneAllInOneEntry) {
    for (bool inherit : {true, false}) {
        SCOPED_TRACE(inherit ? "inherited by children" : "not inherited");
        SecurityEveryone security(inherit);
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
        // Header, one allowed entry and the 12-byte Everyone SID, nothing spare.
        EXPECT_EQ(28, dacl->AclSize);
        EXPECT_EQ(ACL_REVISION, dacl->AclRevision);

        const std::vector<AceEntry> aces = acesOf(dacl);
        ASSERT_EQ(1u, aces.size()) << describe(aces);
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, aces[0].type) << describe(aces);
        EXPECT_EQ(static_cast<ACCESS_MASK>(GENERIC_ALL), aces[0].mask) << describe(aces);
        EXPECT_EQ(kEveryoneSid, aces[0].sid) << describe(aces);
        EXPECT_EQ(inherit ? CONTAINER_INHERIT_ACE : 0, aces[0].flags) << describe(aces);
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
