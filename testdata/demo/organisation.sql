-- The sample organisation of scripts/demo, as the configuration database
-- last stored it (organisation.txt is what the messaging profile says now):
-- the server "Quorrel One" with five users and the server "Quorrel Two" with
-- one. Loaded after testing/schema/*.sql.
INSERT INTO GlobalSettings (Container) VALUES ('Site');
INSERT INTO ServerConfig (Id, ServiceName) VALUES (1, 'Quorrel One'), (2, 'Quorrel Two');

INSERT INTO UserConfig (Id, ServerConfigId, DisplayName, MailboxDN, ServerDN, MailboxSMTPAddr, DeviceType, PIN,
                        RedirectionState, ExtServicesState) VALUES
  (1, 1, 'John Smith', '/o=Quillon/ou=First Site/cn=Recipients/cn=jsmith',
   '/o=Quillon/ou=First Site/cn=Configuration/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB',
   'john.smith@quillon.example', 3, '2A3B4C5D', 1, 1),
  -- Stored by address; the display name alone is ambiguous.
  (2, 1, 'Chris Lee', 'chris.lee@quillon.example',
   '/o=Quillon/ou=First Site/cn=Configuration/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB',
   'chris.lee@quillon.example', 1, '100200', 1, 0),
  (3, 1, 'Zoe Mueller', '/o=Quillon/ou=First Site/cn=Recipients/cn=zmuller',
   '/o=Quillon/ou=First Site/cn=Configuration/cn=Servers/cn=MAIL2/cn=Microsoft Private MDB',
   'zoe.mueller@quillon.example', 7, '2F00AB01', 0, 0),
  (4, 1, 'Pat Jones', '/o=Quillon/ou=First Site/cn=Recipients/cn=pjones',
   '/o=Quillon/ou=First Site/cn=Configuration/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB',
   'pat.jones@old.quillon.example', 3, '2A3B4C60', 1, 1),
  (5, 1, 'Sam Taylor', '/o=Quillon/ou=First Site/cn=Recipients/cn=staylor',
   '/o=Quillon/ou=First Site/cn=Configuration/cn=Servers/cn=MAIL2/cn=Microsoft Private MDB',
   NULL, 6, '300400', 0, 0),
  (6, 2, 'Christine Lee', '/o=Quillon/ou=First Site/cn=Recipients/cn=clee2',
   '/o=Quillon/ou=First Site/cn=Configuration/cn=Servers/cn=MAIL1/cn=Microsoft Private MDB',
   'christine.lee@quillon.example', 3, '2A3B4C61', 1, 0);
