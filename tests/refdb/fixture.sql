-- A small hand-made TPC-C fixture for the procedure tests: one warehouse with
-- ten districts and three items with stock. District 1 has three customers
-- and three orders: order 1 of customer 2, delivered by carrier 7; orders 2
-- and 3 of customer 1, undelivered. Customer 3 has no order; districts 2 to
-- 10 have neither customers nor orders.
INSERT INTO WAREHOUSE VALUES
  (1, 'WH-One', 'W Street 1', 'W Street 2', 'W City', 'WA', '123451111', 0.1000, 300000.00);

INSERT INTO DISTRICT
SELECT seq, 1, CONCAT('Dist-', seq), 'D Street 1', 'D Street 2', 'D City', 'DS', '543211111',
       0.0500, 30000.00, IF(seq = 1, 4, 1)
  FROM seq_1_to_10;

INSERT INTO CUSTOMER VALUES
  (1, 1, 1, 'Alice', 'OE', 'BARBARBAR', 'C Street 1', 'C Street 2', 'C City', 'CS', '111111111',
   '5551234567890123', '2024-01-02 03:04:05', 'GC', 50000.00, 0.1234, -10.00, 10.00, 1, 0, 'good customer'),
  (2, 1, 1, 'Bob', 'OE', 'OUGHTABLE', 'C Street 1', 'C Street 2', 'C City', 'CS', '222222222',
   '5551234567890123', '2024-01-02 03:04:05', 'BC', 50000.00, 0.0500, -10.00, 10.00, 1, 0, 'bad customer'),
  (3, 1, 1, 'Carol', 'OE', 'ABLEPRIPRI', 'C Street 1', 'C Street 2', 'C City', 'CS', '333333333',
   '5551234567890123', '2024-01-02 03:04:05', 'GC', 50000.00, 0.0000, -10.00, 10.00, 1, 0, 'no orders');

INSERT INTO ITEM VALUES
  (1, 11, 'Item-1', 10.00, 'an original item'),
  (2, 12, 'Item-2', 20.50, 'plain item'),
  (3, 13, 'Item-3', 99.99, 'ORIGINAL in capitals');

INSERT INTO STOCK
SELECT seq, 1, 15,
       CONCAT('dist-01-item-', seq, '-xxxxxxxxx'), CONCAT('dist-02-item-', seq, '-xxxxxxxxx'),
       CONCAT('dist-03-item-', seq, '-xxxxxxxxx'), CONCAT('dist-04-item-', seq, '-xxxxxxxxx'),
       CONCAT('dist-05-item-', seq, '-xxxxxxxxx'), CONCAT('dist-06-item-', seq, '-xxxxxxxxx'),
       CONCAT('dist-07-item-', seq, '-xxxxxxxxx'), CONCAT('dist-08-item-', seq, '-xxxxxxxxx'),
       CONCAT('dist-09-item-', seq, '-xxxxxxxxx'), CONCAT('dist-10-item-', seq, '-xxxxxxxxx'),
       0, 0, 0, CONCAT('stock data ', seq, ' original')
  FROM seq_1_to_3;

INSERT INTO ORDERS VALUES
  (1, 1, 1, 2, '2024-02-01 10:00:00', 7, 2, 1),
  (2, 1, 1, 1, '2024-02-02 11:00:00', NULL, 1, 1),
  (3, 1, 1, 1, '2024-02-03 12:30:45', NULL, 2, 1);

INSERT INTO NEW_ORDER VALUES (2, 1, 1), (3, 1, 1);

INSERT INTO ORDER_LINE VALUES
  (1, 1, 1, 1, 1, 1, '2024-02-01 18:00:00', 1, 10.00, 'dist-01-item-1-xxxxxxxxx'),
  (1, 1, 1, 2, 2, 1, '2024-02-01 18:00:00', 2, 41.00, 'dist-01-item-2-xxxxxxxxx'),
  (2, 1, 1, 1, 3, 1, NULL, 1, 99.99, 'dist-01-item-3-xxxxxxxxx'),
  (3, 1, 1, 1, 1, 1, NULL, 3, 30.00, 'dist-01-item-1-xxxxxxxxx'),
  (3, 1, 1, 2, 2, 1, NULL, 1, 20.50, 'dist-01-item-2-xxxxxxxxx');
