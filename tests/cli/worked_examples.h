#pragma once

// The statements of year 2024, month 5 (M101) and year 2024, ROC year 113 (Y301), written
// out by hand.
inline constexpr const char *M101Summary =
    "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'M101' XX001,'2024' XX002,:Month "
    "XX003,SUM(TC031) XX004,TC006 XX005,'' XX006 FROM COPTC WHERE TC027='Y' AND TC001 IN "
    "('3221','5221') AND DATEPART ( YEAR , convert(datetime,TC003,112)) ='2024' AND DATEPART "
    "( Month , convert(datetime,TC003,112)) ='5' GROUP BY TC006";
inline constexpr const char *M101Completion =
    "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values ('C_QVT','1','M101','2024',"
    ":Month)";
inline constexpr const char *Y301Summary =
    "Insert into FADMXX SELECT 'C_QVT' COMPANY,'1' XX000,'Y301' XX001,'2024' XX002,'113' "
    "XX003,ROUND(SUM(TG045+TG046),2) XX004,TG006 XX005,'' XX006 FROM COPTG WHERE TG023 = 'Y' "
    "AND TG004 NOT IN ( 'C000' ,'C0005' ,'C0007' ,'C003' ,'C015','C016','C037' ,'C059' ,'C108' "
    ",'C122' ,'C158' ,'C163' ,'C190','C198' ,'C903' ,'C997' ,'C998') AND TG004 NOT LIKE 'A%' "
    "AND DATEPART ( YEAR , convert(datetime,TG003,112)) ='2024' GROUP BY TG006";
inline constexpr const char *Y301Completion =
    "Insert into FADMXY(COMPANY,XY000,XY001,XY002,XY003) Values ('C_QVT','1','Y301','2024',"
    "'113')";
