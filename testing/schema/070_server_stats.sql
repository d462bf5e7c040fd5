-- The message counters of each server, one row per ServerConfig row.
CREATE TABLE ServerStats (
    ServerConfigId integer PRIMARY KEY REFERENCES ServerConfig (Id),
    MsgsPending integer NOT NULL DEFAULT 0,
    MsgsForwarded integer NOT NULL DEFAULT 0,
    MsgsSent integer NOT NULL DEFAULT 0,
    MsgsExpired integer NOT NULL DEFAULT 0,
    MsgsFiltered integer NOT NULL DEFAULT 0
);
