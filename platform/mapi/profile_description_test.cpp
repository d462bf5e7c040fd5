#include "platform/mapi/profile_description.h"

#include <gtest/gtest.h>

#include "platform/mapi/profile_fixture_for_tests.h"

namespace mapi_profile {
namespace {

std::string ReadSample() {
  return morvale::testing::ReadTextFile(std::string(MORVALE_MAPI_TESTDATA) + "/organisation.txt");
}

TEST(ProfileDescription, TheSampleOrganisationReadsWhole) {
  Organisation organisation;
  std::string error;
  ASSERT_TRUE(ParseOrganisation(ReadSample(), &organisation, &error)) << error;
  ASSERT_EQ(organisation.containers.size(), 3u);
  EXPECT_TRUE(organisation.containers[0].global);
  EXPECT_EQ(organisation.containers[2].parent, "all-users");
  ASSERT_EQ(organisation.users.size(), 5u);
  const UserDescription& john = organisation.users[0];
  EXPECT_EQ(john.displayName, "John Smith");
  EXPECT_EQ(john.alias, "jsmith");
  EXPECT_EQ(john.addressType, "EX");
  EXPECT_EQ(john.proxyAddresses.size(), 3u);
  EXPECT_EQ(john.proxyAddresses[2], "X400:c=US;a= ;p=Quillon;o=First Site;s=Smith;g=John;");
  EXPECT_EQ(john.containers, (std::vector<std::string>{"gal", "all-users"}));
  EXPECT_EQ(organisation.users[3].displayName, "Zoë Müller");
  EXPECT_FALSE(organisation.users[4].smtpAddress.has_value());
  ASSERT_EQ(organisation.stores.size(), 4u);
  EXPECT_EQ(organisation.stores[0].role, StoreRole::kDefault);
  EXPECT_EQ(organisation.stores[1].role, StoreRole::kPublic);
  EXPECT_EQ(organisation.stores[2].role, StoreRole::kMailbox);
}

TEST(ProfileDescription, BlanksCommentsAndCarriageReturnsDoNotCount) {
  Organisation organisation;
  std::string error;
  ASSERT_TRUE(ParseOrganisation("\r\n  # comment\r\n[container  g ]\r\n\tdisplay-name =  G  A L \r\n"
                                "global=yes\r\n[user]\ndisplay-name=A\nemail-address=a",
                                &organisation, &error))
      << error;
  EXPECT_EQ(organisation.containers[0].name, "g");
  EXPECT_EQ(organisation.containers[0].displayName, "G  A L");
  EXPECT_EQ(organisation.users[0].emailAddress, "a");
}

TEST(ProfileDescription, MistakesAreReportedWithTheirLine) {
  const std::string gal = "[container gal]\ndisplay-name = G\nglobal = yes\n";  // lines 1-3
  const std::string user = "[user]\ndisplay-name = U\nemail-address = /cn=u\n";
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {"display-name = x\n", "line 1: \"display-name\" before any section"},
      {"[group]\n", "line 1: unknown section \"[group]\""},
      {"[container bad name]\ndisplay-name = x\n", "line 1: a container's name is"},
      {"[container gal\n", "line 1: a section header ends with ']'"},
      {gal + "[container gal]\ndisplay-name = H\n", "line 4: container \"gal\" is defined twice"},
      {gal + "[container x]\ndisplay-name = X\nparent = y\n", "line 6: parent \"y\" is no container defined above"},
      {gal + "[container x]\ndisplay-name = X\nglobal = yes\n", "line 4: a second global container"},
      {gal + "[container x]\ndisplay-name = X\nglobal = maybe\n", "line 6: global is \"yes\" or \"no\""},
      {"[container x]\nglobal = no\n", "line 1: the section needs \"display-name\""},
      {gal + "[user]\ndisplay-name = U\n", "line 4: the section needs \"email-address\""},
      {gal + user + user, "line 7: a second user with that e-mail address"},
      {gal + user + "[user]\ndisplay-name = V\nemail-address = /CN=U\n", "line 7: a second user"},
      {gal + user + "container = nowhere\n", "line 7: no container \"nowhere\""},
      {"[container x]\ndisplay-name = X\n" + user, "line 3: a user names no container and there is no global one"},
      {gal + user + "display-name = again\n", "line 7: \"display-name\" is given twice"},
      {gal + user + "colour = blue\n", "line 7: unknown key \"colour\" in a user"},
      {gal + user + "alias =\n", "line 7: \"alias\" has no value"},
      {gal + user + "alias = a\tb\n", "line 7: control character"},
      {gal + user + "alias = \x01\n", "line 7: control character"},
      {gal + user + "alias = \xC3\n", "line 7: not UTF-8 text"},
      {gal + user + "alias = \xED\xA0\x80\n", "line 7: not UTF-8 text"},
      {gal + "just words\n", "line 4: expected \"key = value\" or a section"},
      {"[store]\ndn = /cn=a\n", "line 1: the section needs \"display-name\""},
      {"[store]\ndn = a\ndisplay-name = A\nrole = boss\n", "line 4: role is"},
      {"[store]\ndn = a\ndisplay-name = A\n[store]\ndn = A\ndisplay-name = B\n", "line 4: a second store with that dn"},
      {"[store]\ndn = a\ndisplay-name = A\nrole = default\n[store]\ndn = b\ndisplay-name = B\nrole = default\n",
       "line 5: a second default store"},
      {"[store]\ndn = a\ndisplay-name = A\nrole = public\n[store]\ndn = b\ndisplay-name = B\nrole = public\n",
       "line 5: a second public store"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Organisation organisation;
    organisation.users.emplace_back();  // left as it was on failure
    std::string error;
    EXPECT_FALSE(ParseOrganisation(c.text, &organisation, &error));
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    EXPECT_EQ(organisation.users.size(), 1u);
  }
}

}  // namespace
}  // namespace mapi_profile
