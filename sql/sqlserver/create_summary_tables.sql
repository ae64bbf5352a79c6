-- Creates the two tables salestotals writes, in the company database (catalog QVT).
-- Run once with sqlcmd or SQL Server Management Studio:
--   sqlcmd -S <host> -E -d QVT -i sql/sqlserver/create_summary_tables.sql
-- Safe to run again: existing tables are left as they are.
--
-- Column types follow what the statements write:
--   texts for the company, the constant '1', the batch code, the year and the period
--   (weeks and months arrive as 32-bit integer parameters and are stored as their decimal
--   text, e.g. '7'; yearly batches write the ROC year text, e.g. '113');
--   the totals are decimals wide enough for ROUND(SUM((amount+tax)*rate),2) and SUM(quantity)
--   without loss (SUM of a decimal is decimal(38, s); the widest scale written is 8).

IF OBJECT_ID(N'dbo.FADMXX', N'U') IS NULL
BEGIN
    CREATE TABLE dbo.FADMXX (
        COMPANY nvarchar(10)   NOT NULL,  -- company code, 'C_QVT'
        XX000   nvarchar(1)    NOT NULL,  -- always '1'
        XX001   nvarchar(4)    NOT NULL,  -- batch code, e.g. 'W101'
        XX002   nvarchar(10)   NOT NULL,  -- year as typed, e.g. '2024'
        XX003   nvarchar(10)   NOT NULL,  -- week, month or ROC year
        XX004   decimal(38, 8) NULL,      -- the total
        XX005   nvarchar(20)   NULL,      -- group key from the source table
        XX006   nvarchar(10)   NOT NULL   -- always ''
    );
    CREATE INDEX IX_FADMXX_Batch ON dbo.FADMXX (COMPANY, XX001, XX002, XX003);
END;

IF OBJECT_ID(N'dbo.FADMXY', N'U') IS NULL
BEGIN
    CREATE TABLE dbo.FADMXY (
        COMPANY nvarchar(10) NOT NULL,
        XY000   nvarchar(1)  NOT NULL,    -- always '1'
        XY001   nvarchar(4)  NOT NULL,    -- batch code
        XY002   nvarchar(10) NOT NULL,    -- year
        XY003   nvarchar(10) NOT NULL     -- week, month or ROC year
    );
    -- One completion row per batch and period: a second one fails its batch, which then
    -- keeps nothing. Its index serves the completion check before every batch:
    -- WHERE COMPANY = ... AND XY001 = ... AND XY002 = ? AND XY003 = ?
    -- (Tables made by an earlier version have IX_FADMXY_Check instead; docs/sqlserver.md gives the
    -- one statement that adds the key to them.)
    ALTER TABLE dbo.FADMXY ADD CONSTRAINT UQ_FADMXY_Batch UNIQUE (COMPANY, XY001, XY002, XY003);
END;
