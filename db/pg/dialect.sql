-- What the statement texts need from a PostgreSQL database beyond the
-- adapter's rewrites; `db/refdb pg` runs this as the administrator in every
-- kit database it creates (a cast needs a superuser).

-- Payment stores SUBSTR(CAST(? AS VARCHAR), 1, 19), a text, into H_DATE.
-- PostgreSQL converts text to a timestamp only when asked; this lets an
-- INSERT or UPDATE do it, as the reference server does.
DO $$
BEGIN
  CREATE CAST (text AS timestamp without time zone) WITH INOUT AS ASSIGNMENT;
EXCEPTION WHEN duplicate_object THEN
  NULL;
END
$$;

-- NVL2(x, a, b): a when x is not NULL, else b (Order-Status's line query).
CREATE OR REPLACE FUNCTION nvl2(x anyelement, a anycompatible, b anycompatible)
  RETURNS anycompatible LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS 'SELECT CASE WHEN x IS NOT NULL THEN a ELSE b END';
