-- The schema versions installed, newest by CreateDateTime.
CREATE TABLE ServerDBVersion (
    CurrentVersion varchar(64),
    BuildDateTime timestamp,
    DisplayVersion varchar(64),
    CreateDateTime timestamp NOT NULL DEFAULT (now() AT TIME ZONE 'UTC')
);
