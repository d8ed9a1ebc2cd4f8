-- The nine TPC-C tables, with TPC-C column types and primary keys only.
-- Secondary indexes live in indexes.sql so that a bulk load can build them
-- after the rows are in.
CREATE TABLE WAREHOUSE (
  W_ID       INT           NOT NULL,
  W_NAME     VARCHAR(10)   NOT NULL,
  W_STREET_1 VARCHAR(20)   NOT NULL,
  W_STREET_2 VARCHAR(20)   NOT NULL,
  W_CITY     VARCHAR(20)   NOT NULL,
  W_STATE    CHAR(2)       NOT NULL,
  W_ZIP      CHAR(9)       NOT NULL,
  W_TAX      DECIMAL(4,4)  NOT NULL,
  W_YTD      DECIMAL(12,2) NOT NULL,
  PRIMARY KEY (W_ID)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

CREATE TABLE DISTRICT (
  D_ID        INT           NOT NULL,
  D_W_ID      INT           NOT NULL,
  D_NAME      VARCHAR(10)   NOT NULL,
  D_STREET_1  VARCHAR(20)   NOT NULL,
  D_STREET_2  VARCHAR(20)   NOT NULL,
  D_CITY      VARCHAR(20)   NOT NULL,
  D_STATE     CHAR(2)       NOT NULL,
  D_ZIP       CHAR(9)       NOT NULL,
  D_TAX       DECIMAL(4,4)  NOT NULL,
  D_YTD       DECIMAL(12,2) NOT NULL,
  D_NEXT_O_ID INT           NOT NULL,
  PRIMARY KEY (D_W_ID, D_ID)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

CREATE TABLE CUSTOMER (
  C_ID           INT           NOT NULL,
  C_D_ID         INT           NOT NULL,
  C_W_ID         INT           NOT NULL,
  C_FIRST        VARCHAR(16)   NOT NULL,
  C_MIDDLE       CHAR(2)       NOT NULL,
  C_LAST         VARCHAR(16)   NOT NULL,
  C_STREET_1     VARCHAR(20)   NOT NULL,
  C_STREET_2     VARCHAR(20)   NOT NULL,
  C_CITY         VARCHAR(20)   NOT NULL,
  C_STATE        CHAR(2)       NOT NULL,
  C_ZIP          CHAR(9)       NOT NULL,
  C_PHONE        CHAR(16)      NOT NULL,
  C_SINCE        DATETIME      NOT NULL,
  C_CREDIT       CHAR(2)       NOT NULL,
  C_CREDIT_LIM   DECIMAL(12,2) NOT NULL,
  C_DISCOUNT     DECIMAL(4,4)  NOT NULL,
  C_BALANCE      DECIMAL(12,2) NOT NULL,
  C_YTD_PAYMENT  DECIMAL(12,2) NOT NULL,
  C_PAYMENT_CNT  DECIMAL(4,0)  NOT NULL,
  C_DELIVERY_CNT DECIMAL(4,0)  NOT NULL,
  C_DATA         VARCHAR(500)  NOT NULL,
  PRIMARY KEY (C_W_ID, C_D_ID, C_ID)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

-- TPC-C gives HISTORY no key, and no set of its columns is unique. H_ID is
-- the row id that InnoDB would keep hidden anyway, made a real key because
-- cluster replication identifies every row it ships by its primary key.
-- INVISIBLE keeps it out of SELECT * and out of INSERT and LOAD DATA without
-- a column list, so every statement and every loaded row stays as it was;
-- the server numbers it (across cluster nodes without collisions).
CREATE TABLE HISTORY (
  H_C_ID   INT             NOT NULL,
  H_C_D_ID INT             NOT NULL,
  H_C_W_ID INT             NOT NULL,
  H_D_ID   INT             NOT NULL,
  H_W_ID   INT             NOT NULL,
  H_DATE   DATETIME        NOT NULL,
  H_AMOUNT DECIMAL(6,2)    NOT NULL,
  H_DATA   VARCHAR(24)     NOT NULL,
  H_ID     BIGINT UNSIGNED NOT NULL AUTO_INCREMENT INVISIBLE,
  PRIMARY KEY (H_ID)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

CREATE TABLE NEW_ORDER (
  NO_O_ID INT NOT NULL,
  NO_D_ID INT NOT NULL,
  NO_W_ID INT NOT NULL,
  PRIMARY KEY (NO_W_ID, NO_D_ID, NO_O_ID)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

CREATE TABLE ORDERS (
  O_ID         INT          NOT NULL,
  O_D_ID       INT          NOT NULL,
  O_W_ID       INT          NOT NULL,
  O_C_ID       INT          NOT NULL,
  O_ENTRY_D    DATETIME     NOT NULL,
  O_CARRIER_ID INT          NULL,
  O_OL_CNT     DECIMAL(2,0) NOT NULL,
  O_ALL_LOCAL  DECIMAL(1,0) NOT NULL,
  PRIMARY KEY (O_W_ID, O_D_ID, O_ID)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

CREATE TABLE ORDER_LINE (
  OL_O_ID        INT          NOT NULL,
  OL_D_ID        INT          NOT NULL,
  OL_W_ID        INT          NOT NULL,
  OL_NUMBER      INT          NOT NULL,
  OL_I_ID        INT          NOT NULL,
  OL_SUPPLY_W_ID INT          NOT NULL,
  OL_DELIVERY_D  DATETIME     NULL,
  OL_QUANTITY    DECIMAL(2,0) NOT NULL,
  OL_AMOUNT      DECIMAL(6,2) NOT NULL,
  OL_DIST_INFO   CHAR(24)     NOT NULL,
  PRIMARY KEY (OL_W_ID, OL_D_ID, OL_O_ID, OL_NUMBER)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

CREATE TABLE ITEM (
  I_ID    INT          NOT NULL,
  I_IM_ID INT          NOT NULL,
  I_NAME  VARCHAR(24)  NOT NULL,
  I_PRICE DECIMAL(5,2) NOT NULL,
  I_DATA  VARCHAR(50)  NOT NULL,
  PRIMARY KEY (I_ID)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;

CREATE TABLE STOCK (
  S_I_ID       INT          NOT NULL,
  S_W_ID       INT          NOT NULL,
  S_QUANTITY   DECIMAL(4,0) NOT NULL,
  S_DIST_01    CHAR(24)     NOT NULL,
  S_DIST_02    CHAR(24)     NOT NULL,
  S_DIST_03    CHAR(24)     NOT NULL,
  S_DIST_04    CHAR(24)     NOT NULL,
  S_DIST_05    CHAR(24)     NOT NULL,
  S_DIST_06    CHAR(24)     NOT NULL,
  S_DIST_07    CHAR(24)     NOT NULL,
  S_DIST_08    CHAR(24)     NOT NULL,
  S_DIST_09    CHAR(24)     NOT NULL,
  S_DIST_10    CHAR(24)     NOT NULL,
  S_YTD        DECIMAL(8,0) NOT NULL,
  S_ORDER_CNT  DECIMAL(4,0) NOT NULL,
  S_REMOTE_CNT DECIMAL(4,0) NOT NULL,
  S_DATA       VARCHAR(50)  NOT NULL,
  PRIMARY KEY (S_W_ID, S_I_ID)
) ENGINE=InnoDB DEFAULT CHARSET=latin1;
