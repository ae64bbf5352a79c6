-- Company database for the embedded backend (SQLite). Create one with:
--   sqlite3 QVT.sqlite < sql/embedded/schema.sql
-- Texts compare as the ERP's server does: the program redefines NOCASE on its own
-- connection to ignore letter case and trailing blanks. Amounts are decimals; the program
-- sums them exactly. Source, item and calendar columns accept nulls and blank texts.

-- Sales orders.
CREATE TABLE COPTC (
    TC001 VARCHAR(4)  COLLATE NOCASE,  -- order type
    TC002 VARCHAR(11) COLLATE NOCASE,  -- order number
    TC003 VARCHAR(8)  COLLATE NOCASE,  -- order date, YYYYMMDD
    TC006 VARCHAR(10) COLLATE NOCASE,  -- group key of the totals
    TC009 NUMERIC(12,6),               -- exchange rate
    TC027 VARCHAR(1)  COLLATE NOCASE,  -- confirmed, 'Y'
    TC029 NUMERIC(16,2),               -- amount before tax
    TC030 NUMERIC(16,2),               -- tax
    TC031 NUMERIC(16,3)                -- quantity
);

-- Sales invoices.
CREATE TABLE COPTG (
    TG001 VARCHAR(4)  COLLATE NOCASE,  -- invoice type
    TG002 VARCHAR(11) COLLATE NOCASE,  -- invoice number
    TG003 VARCHAR(8)  COLLATE NOCASE,  -- invoice date, YYYYMMDD
    TG004 VARCHAR(10) COLLATE NOCASE,  -- customer code
    TG006 VARCHAR(10) COLLATE NOCASE,  -- group key of the totals
    TG023 VARCHAR(1)  COLLATE NOCASE,  -- confirmed, 'Y'
    TG045 NUMERIC(16,2),               -- amount before tax
    TG046 NUMERIC(16,2)                -- tax
);

-- Week calendar: week DT002 of year DT001 covers the days DT003 to DT004.
CREATE TABLE FCMSDT (
    DT001 VARCHAR(4) COLLATE NOCASE,
    DT002 VARCHAR(2) COLLATE NOCASE,
    DT003 VARCHAR(8) COLLATE NOCASE,
    DT004 VARCHAR(8) COLLATE NOCASE
);

-- Items.
CREATE TABLE FCMSFL (
    FL000 VARCHAR(2)  COLLATE NOCASE,
    FL001 VARCHAR(20) COLLATE NOCASE,
    FL002 VARCHAR(40) COLLATE NOCASE
);

-- Summary rows written by the batches, by position.
CREATE TABLE FADMXX (
    COMPANY VARCHAR(10) COLLATE NOCASE,
    XX000 VARCHAR(1)  COLLATE NOCASE,
    XX001 VARCHAR(4)  COLLATE NOCASE,  -- batch code
    XX002 VARCHAR(4)  COLLATE NOCASE,  -- year
    XX003 VARCHAR(4)  COLLATE NOCASE,  -- week, month or ROC year
    XX004 NUMERIC(20,6),               -- the total
    XX005 VARCHAR(10) COLLATE NOCASE,  -- group key
    XX006 VARCHAR(10) COLLATE NOCASE
);

-- One row per finished batch and period.
CREATE TABLE FADMXY (
    COMPANY VARCHAR(10) COLLATE NOCASE,
    XY000 VARCHAR(1) COLLATE NOCASE,
    XY001 VARCHAR(4) COLLATE NOCASE,   -- batch code
    XY002 VARCHAR(4) COLLATE NOCASE,   -- year
    XY003 VARCHAR(4) COLLATE NOCASE    -- week, month or ROC year
);
-- A second completion row fails its batch, which then keeps nothing.
CREATE UNIQUE INDEX UQ_FADMXY_Batch ON FADMXY (COMPANY, XY001, XY002, XY003);
