-- Secondary indexes, built after a bulk load.
-- A customer's orders, newest last: Order-Status finds the customer's most
-- recent order here, and its locking read of this range is what keeps a
-- concurrent New-Order for the same customer out (phantom protection).
CREATE INDEX ORDERS_CUSTOMER ON ORDERS (O_W_ID, O_D_ID, O_C_ID, O_ID);
